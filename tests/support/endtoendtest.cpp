#include "endtoendtest.h"

#include <QTest>

void EndToEndTest::startDisplay(const XSession::Options &options)
{
    m_session = std::make_unique<XSession>(options);
    QVERIFY2(m_session->error().isEmpty(), qPrintable(m_session->error()));
    m_x = std::make_unique<XClient>(m_session->display());
    QVERIFY2(m_x->isConnected(), qPrintable(m_session->display()));
}

void EndToEndTest::freshStart()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_x->clearEvents();
}
