#pragma once

#include "xclient.h"
#include "xsession.h"

#include <QObject>
#include <QTemporaryDir>

#include <memory>

// What the end-to-end test classes share: a private X display and a client connected to it,
// started once for all the tests of a class and ended with it, and a fresh working directory for
// each test that wants one.
class EndToEndTest : public QObject
{
protected:
    // For initTestCase: starts the display (by default with window manager and compositor) and
    // connects to it. A display that does not come up fails the calling test function.
    void startDisplay(const XSession::Options &options = {});
    // For init: a new, empty working directory in m_dir, and none of the X events left over from
    // the test before.
    void freshStart();

    std::unique_ptr<XSession> m_session;
    std::unique_ptr<XClient> m_x;
    std::unique_ptr<QTemporaryDir> m_dir;
};
