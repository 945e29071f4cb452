#include "engine/base/Prompts.h"

namespace {

// Until the program installs its dialogs, nobody is there to answer: messages
// go nowhere and every question is declined, so a window or test that never
// installed prompts cannot hang on an invisible dialog.
class UnansweredPrompts final : public IPrompts {
public:
    void Message(QWidget*, const QString&, Icon) override {}
    Answer AskYesNo(QWidget*, const QString&, const QString&) override { return No; }
    bool RetryCountdown(QWidget*, int, const QString&) override { return false; }
};

UnansweredPrompts g_unanswered;
IPrompts* g_prompts = &g_unanswered;

} // namespace

IPrompts& Prompts()
{
    return *g_prompts;
}

void SetPrompts(IPrompts* prompts)
{
    g_prompts = prompts ? prompts : &g_unanswered;
}
