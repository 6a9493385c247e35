#pragma once

class QDialog;

namespace telvox {

// Shows a window modally and returns when it has closed. Windows open their modal children
// through this, so that tests can answer a window instead of waiting for a user.
class ModalRunner
{
public:
    virtual ~ModalRunner() = default;
    virtual int runModal(QDialog &dialog) = 0;
};

// A dialog that knows how to answer itself when there is no screen to show it on.
class HeadlessAnswer
{
public:
    virtual ~HeadlessAnswer() = default;
    virtual void answerHeadless() = 0;
};

// QDialog::exec(). Without a screen (the offscreen platform of a headless run) a dialog that
// is a HeadlessAnswer answers itself, and any other dialog is closed unanswered.
class WidgetModalRunner final : public ModalRunner
{
public:
    int runModal(QDialog &dialog) override;
};

} // namespace telvox
