#include "led.h"

#include <QPainter>

namespace ui {

void Led::setLit(bool lit)
{
    m_lit = lit;
    update();
}

void Led::setOnColor(int rgb)
{
    m_onColor = rgb;
    update();
}

void Led::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 2;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_lit ? QColor::fromRgb(static_cast<QRgb>(m_onColor)) : QColor(70, 70, 70));
    painter.drawEllipse(circle);
}

} // namespace ui
