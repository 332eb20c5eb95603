#pragma once

class QWidget;

namespace quorrin {

// Keeps a top-level window above all normal windows, or releases it. Position, size and
// visibility stay as they are.
void SetAlwaysOnTop(QWidget *window, bool onTop);

} // namespace quorrin
