#pragma once

#include "engine/base/Prompts.h"

#include <QStringList>

// Prompts answered by the test: messages noted, questions noted as
// "caption: text" and answered with `answer`.
class AnsweringPrompts : public IPrompts {
public:
    void Message(QWidget*, const QString& text, Icon) override { messages << text; }
    Answer AskYesNo(QWidget*, const QString& text, const QString& caption) override
    {
        questions << caption + QStringLiteral(": ") + text;
        return answer;
    }
    bool RetryCountdown(QWidget*, int, const QString&) override { return false; }
    QStringList messages;
    QStringList questions;
    Answer answer = Yes;
};
