// The framework's message boxes in a program without windows: each text goes to standard error
// as "<program>: <text>", the texts the window shows in its boxes. The last one is kept for the
// plugin's output line.
#pragma once

#include "framework/user_feedback.h"
#include "probe/probe_environment.h"

class ConsoleFeedback : public IUserFeedback {
public:
    explicit ConsoleFeedback(IProbeEnvironment& env) : m_env(env) {}

    int MessageBox(HWND owner, const CString& text, const CString& caption, UINT type) override;
    // A console has no pointer to show the wait with.
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    // The last text reported, with its lines ended by line feeds alone and no line end at its end.
    const std::string& LastText() const { return m_lastText; }

private:
    IProbeEnvironment& m_env;
    std::string m_lastText;
};
