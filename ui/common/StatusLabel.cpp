#include "ui/common/StatusLabel.h"

#include <QPainter>

namespace qardel {

StatusLabel::StatusLabel(int most, bool steady, QWidget* parent)
    : QLabel(parent), m_most(most), m_steady(steady) {
    setTextFormat(Qt::PlainText);
}

QSize StatusLabel::sizeHint() const {
    const int h = fontMetrics().height();
    return {m_steady ? m_most : std::min(QLabel::sizeHint().width(), m_most), h};
}

QSize StatusLabel::minimumSizeHint() const {
    return {20, fontMetrics().height()};
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = contentsRect();
    p.setPen(palette().color(foregroundRole()));
    p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
               fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
}

} // namespace qardel
