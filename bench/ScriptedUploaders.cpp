#include "ScriptedUploaders.h"

#include <memory>
#include <vector>

#include "ScriptedUpload.h"

ScriptedUploaders::ScriptedUploaders(int batch, int count, qint64 size, quint16 serverPort,
                                     quint16 clientPort)
    : m_batch(batch), m_count(count), m_size(size), m_serverPort(serverPort),
      m_clientPort(clientPort)
{}

ScriptedUploaders::~ScriptedUploaders()
{
    quit();
    wait();
}

void ScriptedUploaders::run()
{
    std::vector<std::unique_ptr<ScriptedUpload>> uploads;
    for (int n = 0; n < m_count && !failed; ++n) {
        uploads.push_back(std::make_unique<ScriptedUpload>(UserName(m_batch, n), m_size,
                                                           m_clientPort, sent, failed));
        if (!uploads.back()->LogIn(m_serverPort))
            failed = true;
    }
    ready = true;
    exec();
}
