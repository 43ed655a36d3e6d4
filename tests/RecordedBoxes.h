#pragma once
// Answers the application's message boxes without a modal loop and keeps what each said, for every
// test executable that needs the application object.
#include "MessageBox.h"

#include <QString>
#include <functional>
#include <vector>

class RecordedBoxes final : public IMessageBoxService {
public:
    struct Box {
        QString text, caption;
        unsigned flags;
    };
    int Show(const QString& text, const QString& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (during)
            during(); // stands in for what the box's own loop would run meanwhile
        return answer;
    }
    std::vector<Box> boxes;
    int answer = IDOK;
    std::function<void()> during;
};
