#include <QtTest>

#include "TempHome.h"
#include "app/AppTypes.h"
#include "app/Settings.h"
#include "store/Data.h"
#include "store/DataSaver.h"

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { d.RemoveAllItems(); }
    void cleanupTestCase() { delete m_saver; }
    void SchemaIsDeclaredInOrder();
    void SetReplacesTheOldValue();
    void KeysWithTheSameTextShareOneValue();
    void UnsetKeysReadEmptyWithoutBeingCreated();
    void NumbersRoundTrip();
    void YesNoSettingsConnectOrDisconnect();
    void VolatileSettingsAreSeparateAndNotSaved();

private:
    static Type* ValueType() { return d.GetType(AppTypes::GlobalValue); }

    DataSaver* m_saver = nullptr;
};

void SettingsTest::initTestCase()
{
    m_saver = new DataSaver(d);
    Settings::DeclareSchema(*m_saver);
}

void SettingsTest::SchemaIsDeclaredInOrder()
{
    const std::vector<Type*>& types = d.GetTypes();
    QCOMPARE(types.size(), std::size_t(3));
    QCOMPARE(types[0]->GetName(), std::string("global"));
    QCOMPARE(types[1]->GetName(), std::string("vglobal"));
    QCOMPARE(types[2]->GetName(), std::string("global_value"));
    for (Type* type : types) {
        QVERIFY(!type->IsNull());
        QVERIFY(type->IsCreateOnGet());
    }
    QVERIFY(types[0]->IsPrimary());
    QVERIFY(types[1]->IsPrimary());
    QVERIFY(!types[2]->IsPrimary());

    for (Type* key : {types[0], types[1]}) {
        const RelationInfo& relation = key->GetRelation(types[2]);
        QCOMPARE(relation.thisEnd, MANY);
        QCOMPARE(relation.otherEnd, ONE);
        QVERIFY(!relation.owns && !relation.owned);
    }
    QVERIFY(!types[0]->IsRelated(types[1]));
}

void SettingsTest::SetReplacesTheOldValue()
{
    Settings::Set("download_folder", std::string("/home/a"));
    Settings::Set("download_folder", "/home/b");
    QCOMPARE(Settings::Get("download_folder"), std::string("/home/b"));

    ItemPtr key = d.GetType(AppTypes::Global)->HasItem("download_folder");
    QCOMPARE(key.GetItems(AppTypes::GlobalValue).size(), std::size_t(1));
    QVERIFY(ValueType()->HasItem("/home/a")->IsDisconnectedFromAll());

    // The old value goes at the next collection; the setting stays.
    d.RemoveDisconnectedItems();
    QVERIFY(!ValueType()->HasItem("/home/a"));
    QCOMPARE(Settings::Get("download_folder"), std::string("/home/b"));
}

void SettingsTest::KeysWithTheSameTextShareOneValue()
{
    Settings::Set("username", "alice");
    Settings::Set("password", "alice");
    ItemPtr value = ValueType()->HasItem("alice");
    QVERIFY(value);
    QCOMPARE(value.GetItems(AppTypes::Global).size(), std::size_t(2));

    // Changing one key leaves the other on the shared value.
    Settings::Set("password", "secret");
    QCOMPARE(Settings::Get("username"), std::string("alice"));
    QCOMPARE(value.GetItems(AppTypes::Global).size(), std::size_t(1));
}

void SettingsTest::UnsetKeysReadEmptyWithoutBeingCreated()
{
    QCOMPARE(Settings::Get("never_set"), std::string());
    QCOMPARE(Settings::GetInt("never_set", 17), 17LL);
    QVERIFY(!Settings::IsYes("never_set"));
    Settings::SetYes("never_set", false);
    QVERIFY(!d.GetType(AppTypes::Global)->HasItem("never_set"));
    QCOMPARE(ValueType()->ItemCount(), std::size_t(0));
}

void SettingsTest::NumbersRoundTrip()
{
    Settings::Set("upload_slots", 3);
    Settings::Set("upload_speed_limit", 0);
    Settings::Set("privileges_time_left", -7LL);
    Settings::Set("transfer_req_counter", 4294967296LL);
    Settings::Set("listening_port", static_cast<unsigned short>(2235));
    QCOMPARE(Settings::Get("upload_slots"), std::string("3"));
    QCOMPARE(Settings::GetInt("upload_slots", 1), 3LL);
    QCOMPARE(Settings::GetInt("upload_speed_limit", 99), 0LL);
    QCOMPARE(Settings::GetInt("privileges_time_left", 0), -7LL);
    QCOMPARE(Settings::GetInt("transfer_req_counter", 0), 4294967296LL);
    QCOMPARE(Settings::GetInt("listening_port", 0), 2235LL);

    Settings::Set("upload_slots", "many");
    QCOMPARE(Settings::GetInt("upload_slots", 2), 2LL);
}

void SettingsTest::YesNoSettingsConnectOrDisconnect()
{
    Settings::SetYes("minimize_to_tray", true);
    Settings::SetYes("expand_new_shares", true);
    QVERIFY(Settings::IsYes("minimize_to_tray"));
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("yes"));
    QCOMPARE(ValueType()->HasItem("yes").GetItems(AppTypes::Global).size(), std::size_t(2));

    Settings::SetYes("minimize_to_tray", false);
    QVERIFY(!Settings::IsYes("minimize_to_tray"));
    ItemPtr key = d.GetType(AppTypes::Global)->HasItem("minimize_to_tray");
    QVERIFY(!key.IsConnected(AppTypes::GlobalValue));
    QVERIFY(Settings::IsYes("expand_new_shares"));

    // Any text other than "yes" is off.
    Settings::Set("use_upnp", "no");
    QVERIFY(!Settings::IsYes("use_upnp"));
    Settings::Set("use_upnp", "Yes");
    QVERIFY(!Settings::IsYes("use_upnp"));
}

void SettingsTest::VolatileSettingsAreSeparateAndNotSaved()
{
    TempHome home;
    const QByteArray path = home.File(".Quorvale").toLocal8Bit();

    Settings::Set("username", "alice");
    Settings::SetYes("use_upnp", true);
    Settings::SetVolatile("username", "bob");
    Settings::SetVolatile("session_port", 2240);
    Settings::SetVolatileYes("reconnecting", true);
    QCOMPARE(Settings::Get("username"), std::string("alice"));
    QCOMPARE(Settings::GetVolatile("username"), std::string("bob"));
    QCOMPARE(Settings::GetVolatileInt("session_port", 0), 2240LL);
    QVERIFY(Settings::IsVolatileYes("reconnecting"));
    QVERIFY(!Settings::IsYes("reconnecting"));
    Settings::SetVolatileYes("reconnecting", false);
    QVERIFY(!Settings::IsVolatileYes("reconnecting"));

    QVERIFY(m_saver->Save(path.constData()));
    d.RemoveAllItems();
    m_saver->Load(path.constData());

    QCOMPARE(Settings::Get("username"), std::string("alice"));
    QVERIFY(Settings::IsYes("use_upnp"));
    QCOMPARE(Settings::GetVolatile("username"), std::string());
    QCOMPARE(Settings::GetVolatileInt("session_port", -1), -1LL);
    // A value held only by a volatile key is not written either.
    QVERIFY(!ValueType()->HasItem("bob"));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
