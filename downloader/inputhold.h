#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <utility>
#include <vector>

class QEvent;

namespace quorrin {

// While it lives, user input (keys, mouse, wheel, touch) to the program's windows is held back;
// the rest — painting, timers, and the window manager's requests such as closing a window —
// goes through. When it ends, the held input is handed to its windows in the order it came.
// Lets a long call on the GUI thread keep the window painted, and closable, without acting on
// the user's input in the middle of it.
class InputHold : public QObject {
public:
    InputHold();
    ~InputHold() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> m_held;
};

} // namespace quorrin
