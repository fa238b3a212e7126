#include "led.h"

#include <QPainter>

namespace ui {

// A lamp set to what it shows is not painted again.
void Led::setLit(bool lit)
{
    if (lit == m_lit)
        return;
    m_lit = lit;
    update();
}

void Led::setOnColor(int rgb)
{
    if (rgb == m_onColor)
        return;
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
