// led.h - a round lamp: lit in its on-colour, dark grey when off.
#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

class Led : public QWidget {
    Q_OBJECT
public:
    explicit Led(QWidget *parent = nullptr) : QWidget(parent) {}

    void setLit(bool lit);
    bool lit() const { return m_lit; }
    void setOnColor(int rgb);
    int onColor() const { return m_onColor; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_lit = false;
    int m_onColor = 0x00FF00;
};

} // namespace ui
