#include "text_box.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <cmath>
#include <cstring>

namespace ui {

TextBox::TextBox(QWidget *parent) : QAbstractScrollArea(parent)
{
    m_lines.push_back(Line{});
    countLength(0, +1);
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    learnFont();
}

void TextBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        learnFont();
}

// With a fixed-pitch font only the columns in view are drawn: a folded
// stream's lines are far wider than the box, and drawing one whole costs time
// in proportion to its length. (Judged from the glyphs: fontconfig does not
// mark every monospaced font as fixed pitch.) Each character the shaper draws
// as one glyph of the font itself, at that glyph's advance, is drawn as that
// glyph (a control character as the font's box for a missing glyph), without
// shaping each line again at each paint; a tab, a character of no width or one
// from another font leaves its line to the shaper.
void TextBox::learnFont()
{
    const QFontMetrics metrics = fontMetrics();
    m_advance = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_fixed = metrics.horizontalAdvance(QLatin1Char('i')) == m_advance &&
              metrics.horizontalAdvance(QLatin1Char('W')) == m_advance;
    m_raw = QRawFont::fromFont(font());
    for (int c = 0; c < 256; ++c) {
        m_plain[c] = false;
        if (!m_fixed || !m_raw.isValid() || c == '\t')
            continue;
        // The character between two others, as it stands in a line.
        const QChar ch(static_cast<ushort>(c));
        QTextLayout layout(QString(QLatin1Char('M')) + ch + QLatin1Char('M'), font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        if (runs.size() != 1 || runs[0].glyphIndexes().size() != 3 || runs[0].rawFont() != m_raw)
            continue;
        const QVector<QPointF> at = runs[0].positions();
        m_glyphs[c] = runs[0].glyphIndexes().at(1);
        m_advances[c] = m_raw.advancesForGlyphIndexes({m_glyphs[c]}).at(0).x();
        // The shaper may give a glyph no width of its own (a soft hyphen).
        m_plain[c] = m_advances[c] > 0 && std::abs(at[2].x() - at[1].x() - m_advances[c]) < 0.01;
    }
}

void TextBox::setBackground(int rgb)
{
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Base, QColor::fromRgb(static_cast<QRgb>(rgb)));
    viewport()->setPalette(p);
}

void TextBox::append(const char *bytes)
{
    QScrollBar *bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    const int firstBefore = bar->value(), lastBefore = lineCount() - 1;
    const int xBefore = horizontalScrollBar()->value();
    m_appending = true;
    const char *p = bytes;
    // A CR at the end of the last append and an LF at the start of this one
    // are one line break.
    if (m_afterCR && *p == '\n')
        ++p;
    // An empty append leaves a CR still waiting for its LF.
    if (*bytes != '\0')
        m_afterCR = false;
    while (*p != '\0') {
        const char *end = p;
        while (*end != '\0' && *end != '\r' && *end != '\n')
            ++end;
        appendSegment(p, static_cast<int>(end - p));
        if (*end == '\0')
            break;
        breakLine(false);
        if (end[0] == '\r' && end[1] == '\n')
            ++end;
        else if (end[0] == '\r' && end[1] == '\0')
            m_afterCR = true;
        p = end + 1;
    }
    const int dropped = trim();
    updateScrollBars();
    if (atBottom)
        bar->setValue(bar->maximum());
    else if (dropped > 0)
        bar->setValue(bar->value() - dropped);
    m_appending = false;
    repaintChanged(firstBefore - dropped, lastBefore - dropped, xBefore);
}

void TextBox::scrollContentsBy(int, int)
{
    // An append repaints what it changed itself.
    if (!m_appending)
        viewport()->update();
}

// What was in view before an append is moved as it stands, when it is still
// in view whole lines higher up; then the lines from the one that was being
// written on are drawn again. oldFirst and oldLast are the first line in
// view and the last line before the append, as numbered after it.
void TextBox::repaintChanged(int oldFirst, int oldLast, int oldX)
{
    const int height = fontMetrics().lineSpacing();
    const int first = verticalScrollBar()->value();
    const int shift = first - oldFirst;
    if (horizontalScrollBar()->value() != oldX || shift < 0 || shift > visibleLines()) {
        viewport()->update();
        return;
    }
    if (shift > 0)
        viewport()->scroll(0, -shift * height);
    const int row = std::max(0, oldLast - first);
    viewport()->update(0, row * height, viewport()->width(), viewport()->height());
}

void TextBox::reset(const char *bytes)
{
    // The same text again (a status that has not changed) repaints nothing.
    if (holds(bytes))
        return;
    m_lines.clear();
    m_lines.push_back(Line{});
    m_chars = 0;
    std::fill(m_lengths.begin(), m_lengths.end(), 0);
    m_widest = 0;
    countLength(0, +1);
    m_afterCR = false;
    verticalScrollBar()->setValue(0);
    append(bytes);
    viewport()->update();
}

bool TextBox::holds(const char *bytes) const
{
    std::size_t line = 0;
    int column = 0;
    for (const char *p = bytes; *p != '\0'; ++p) {
        const QString &have = m_lines[line].text;
        const bool lineBreak = *p == '\r' || *p == '\n';
        if (lineBreak || column == kMaxLineLength) {
            // The line ends here, by a break or folded; a line more follows.
            if (have.size() != column || m_lines[line].folded == lineBreak || ++line == m_lines.size())
                return false;
            column = 0;
            if (!lineBreak)
                --p; // the character goes on the next line
            else if (p[0] == '\r' && p[1] == '\n')
                ++p;
            continue;
        }
        if (column >= have.size() || have[column] != QLatin1Char(*p))
            return false;
        ++column;
    }
    const std::size_t length = std::strlen(bytes);
    const bool endsInCR = length > 0 && bytes[length - 1] == '\r';
    return line + 1 == m_lines.size() && m_lines[line].text.size() == column && m_afterCR == endsInCR;
}

void TextBox::appendSegment(const char *bytes, int length)
{
    while (length > 0) {
        Line &line = m_lines.back();
        const int room = kMaxLineLength - static_cast<int>(line.text.size());
        if (room == 0) {
            breakLine(true);
            continue;
        }
        const int n = length < room ? length : room;
        const int before = static_cast<int>(line.text.size());
        line.text.append(QLatin1String(bytes, n));
        countLength(before + n, +1); // first, so the widest never has to be looked for
        countLength(before, -1);
        m_chars += n;
        bytes += n;
        length -= n;
    }
}

void TextBox::breakLine(bool folded)
{
    m_lines.back().folded = folded;
    m_lines.push_back(Line{});
    countLength(0, +1);
}

void TextBox::countLength(int length, int change)
{
    m_lengths[static_cast<std::size_t>(length)] += change;
    if (change > 0 && length > m_widest)
        m_widest = length;
    // The widest line went: the next widest is at most kMaxLineLength steps down.
    while (m_widest > 0 && m_lengths[static_cast<std::size_t>(m_widest)] == 0)
        --m_widest;
}

int TextBox::trim()
{
    int dropped = 0;
    while (m_lines.size() > 1 &&
           (static_cast<int>(m_lines.size()) > kMaxLines || m_chars > kMaxChars)) {
        m_chars -= m_lines.front().text.size();
        countLength(static_cast<int>(m_lines.front().text.size()), -1);
        m_lines.pop_front();
        ++dropped;
    }
    return dropped;
}

QString TextBox::text() const
{
    QString all;
    all.reserve(static_cast<int>(m_chars + static_cast<long>(m_lines.size())));
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        all += m_lines[i].text;
        if (i + 1 < m_lines.size() && !m_lines[i].folded)
            all += '\n';
    }
    return all;
}

int TextBox::visibleLines() const
{
    const int height = fontMetrics().lineSpacing();
    return std::max(1, viewport()->height() / std::max(1, height));
}

void TextBox::updateScrollBars()
{
    verticalScrollBar()->setPageStep(visibleLines());
    verticalScrollBar()->setRange(0, std::max(0, lineCount() - visibleLines()));
    const int widest = m_widest * m_advance + 8;
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, widest - viewport()->width()));
}

void TextBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    const bool atBottom = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    updateScrollBars();
    if (atBottom)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool TextBox::addGlyphs(QStringView shown, int x, int y)
{
    for (const QChar ch : shown)
        if (ch.unicode() > 0xFF || !m_plain[ch.unicode()])
            return false;
    qreal at = x;
    for (const QChar ch : shown) {
        m_runGlyphs.append(m_glyphs[ch.unicode()]);
        m_runPositions.append(QPointF(at, y));
        at += m_advances[ch.unicode()];
    }
    return true;
}

void TextBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    const int height = metrics.lineSpacing();
    const int first = verticalScrollBar()->value();
    const int scroll = horizontalScrollBar()->value();
    const int firstColumn = m_fixed ? scroll / m_advance : 0;
    const int columns = m_fixed ? viewport()->width() / m_advance + 2 : -1;
    const int x = 4 - scroll + firstColumn * m_advance;
    m_runGlyphs.clear();
    m_runPositions.clear();
    // The rows the paint asks for, and one more each side for what reaches
    // past its own row.
    const QRect area = event->rect();
    const int toRow = (area.bottom() - 2) / height + 1;
    for (int row = std::max(0, (area.top() - 2) / height - 1); row <= toRow && first + row < lineCount(); ++row) {
        const QStringView line(m_lines[static_cast<std::size_t>(first + row)].text);
        const QStringView shown = m_fixed ? line.mid(firstColumn, columns) : line;
        const int y = metrics.ascent() + 2 + row * height;
        if (!m_fixed || !addGlyphs(shown, x, y))
            painter.drawText(x, y, shown.toString());
    }
    if (m_runGlyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_raw);
    run.setGlyphIndexes(m_runGlyphs);
    run.setPositions(m_runPositions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

void TextBox::copyAll() const
{
    QApplication::clipboard()->setText(text());
}

void TextBox::contextMenuEvent(QContextMenuEvent *event)
{
    // Shown without an event loop of its own (no exec()): callbacks may run
    // while the menu is open, and one may discard this box and its panel.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Copy all"), this, [this] { copyAll(); });
    menu->popup(event->globalPos());
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        copyAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

} // namespace ui
