// A text in the status bar's free space, right of the window's two panels,
// that gives way: cut with an ellipsis to the room it gets, so that the
// panels keep theirs.
#pragma once

#include <QLabel>

namespace qardel {

class StatusLabel : public QLabel {
  public:
    // most: the width it asks for at the most. steady: it always asks for
    // that much, so that a new text lays nothing out (a line that follows
    // each keystroke).
    StatusLabel(int most, bool steady, QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    int m_most;
    bool m_steady;
};

} // namespace qardel
