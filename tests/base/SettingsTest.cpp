#include <QtTest>

#include "TempHome.h"
#include "base/Settings.h"
#include "base/SettingsTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_saver = std::make_unique<DataSaver>(d);
        Settings::DeclareSchema(*m_saver);
    }
    void init() { d.RemoveAllItems(); }

    void KeysShareValuesAndLeaveOldOnesForCollection()
    {
        QCOMPARE(Settings::Get("never_set"), std::string());
        QCOMPARE(Settings::GetInt("never_set", 17), 17LL);
        Settings::SetYes("never_set", false);
        QVERIFY(!d.GetType(SettingsTypes::Global)->HasItem("never_set")); // reading creates nothing
        QCOMPARE(Values()->ItemCount(), std::size_t(0));

        Settings::Set("username", std::string("alice"));
        Settings::Set("password", "alice");
        ItemPtr alice = Values()->HasItem("alice");
        Settings::Set("password", "secret");
        QCOMPARE(Settings::Get("username"), std::string("alice"));
        Settings::Set("username", "bob");
        QVERIFY(alice->IsDisconnectedFromAll());
        d.RemoveDisconnectedItems();
        QVERIFY(!Values()->HasItem("alice"));
        QCOMPARE(Settings::Get("username"), std::string("bob"));
    }

    void NumbersAndYesNoRoundTrip()
    {
        Settings::Set("privileges_time_left", -7LL);
        Settings::Set("transfer_req_counter", 4294967296LL);
        QCOMPARE(Settings::GetInt("privileges_time_left", 0), -7LL);
        QCOMPARE(Settings::GetInt("transfer_req_counter", 0), 4294967296LL);
        Settings::Set("upload_slots", "many");
        QCOMPARE(Settings::GetInt("upload_slots", 2), 2LL);

        Settings::SetYes("minimize_to_tray", true);
        Settings::SetYes("expand_new_shares", true);
        Settings::SetYes("minimize_to_tray", false);
        QVERIFY(!Settings::IsYes("minimize_to_tray") && Settings::IsYes("expand_new_shares"));
        ItemPtr key = d.GetType(SettingsTypes::Global)->HasItem("minimize_to_tray");
        QVERIFY(!key.IsConnected(SettingsTypes::GlobalValue));
        Settings::Set("use_upnp", "Yes"); // only "yes" is on
        QVERIFY(!Settings::IsYes("use_upnp"));
    }

    void VolatileSettingsAreSeparateAndNotSaved()
    {
        TempHome home;
        const QByteArray path = home.File(".Quorvale").toLocal8Bit();
        Settings::Set("username", "alice");
        Settings::SetYes("use_upnp", true);
        Settings::SetVolatile("username", "bob");
        Settings::SetVolatileYes("reconnecting", true);
        QCOMPARE(Settings::Get("username"), std::string("alice"));
        QCOMPARE(Settings::GetVolatile("username"), std::string("bob"));
        QVERIFY(Settings::IsVolatileYes("reconnecting") && !Settings::IsYes("reconnecting"));

        QVERIFY(m_saver->Save(path.constData()));
        d.RemoveAllItems();
        m_saver->Load(path.constData());
        QCOMPARE(Settings::Get("username"), std::string("alice"));
        QVERIFY(Settings::IsYes("use_upnp"));
        QCOMPARE(Settings::GetVolatile("username"), std::string());
        QVERIFY(!Settings::IsVolatileYes("reconnecting"));
        QVERIFY(!Values()->HasItem("bob")); // held only by a volatile key
    }

private:
    static Type* Values() { return d.GetType(SettingsTypes::GlobalValue); }

    std::unique_ptr<DataSaver> m_saver;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
