// text_box.h - a read-only text view that bounds its own memory.
//
// The live view of a chatty port may be appended to for hours without anyone
// cutting it back. This view keeps at most kMaxLines lines and about kMaxChars
// characters, dropping the oldest; a stream without line breaks is folded
// every kMaxLineLength characters so no line grows without end. Appending
// costs time in proportion to the new text only: lines are drawn as they
// scroll into view, never laid out as a whole.
//
// Each byte is one Latin-1 character; CR LF, a lone CR and a lone LF each make
// one line break, also when CR and LF arrive in different appends.
//
// Setting the text it already holds repaints nothing; an append moves what
// stays in view and draws only the lines it changed. In a fixed-pitch font,
// the lines in view are drawn as glyphs straight from the font, in one run,
// looking exactly as QPainter::drawText draws them; a line with a character
// that needs the text shaper (a tab, a soft hyphen, one from another font) is
// drawn by drawText.
#pragma once

#include <QAbstractScrollArea>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <QStringView>
#include <QVector>

#include <deque>
#include <vector>

namespace ui {

class TextBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 2000;
    static constexpr long kMaxChars = 1L << 20;
    static constexpr int kMaxLineLength = 1024;

    explicit TextBox(QWidget *parent = nullptr);

    void append(const char *bytes);
    void reset(const char *bytes);
    // The whole text: hard line breaks as '\n', folded lines joined again.
    QString text() const;
    int lineCount() const { return static_cast<int>(m_lines.size()); }
    // One line as kept, folded or not; the last is the one being written.
    QString lineText(int index) const { return m_lines.at(static_cast<std::size_t>(index)).text; }
    long charCount() const { return m_chars; }
    void setBackground(int rgb);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Line {
        QString text;
        bool folded = false; // the next line continues this one
    };

    // Whether reset(bytes) would leave the box as it is.
    bool holds(const char *bytes) const;
    void appendSegment(const char *bytes, int length);
    void breakLine(bool folded);
    int trim(); // returns the number of lines dropped
    void repaintChanged(int oldFirst, int oldLast, int oldX);
    void updateScrollBars();
    int visibleLines() const;
    void copyAll() const;

    void countLength(int length, int change);
    void learnFont();
    // Adds `shown`, its baseline starting at (x, y), to the glyph run; false,
    // adding nothing, when it must be drawn as text.
    bool addGlyphs(QStringView shown, int x, int y);

    std::deque<Line> m_lines; // the last line is the one being written
    long m_chars = 0;
    // How many held lines have each length 0..kMaxLineLength, so that the
    // widest is known again in constant time when lines are dropped.
    std::vector<int> m_lengths = std::vector<int>(kMaxLineLength + 1, 0);
    int m_widest = 0;         // longest line held, in characters
    bool m_afterCR = false;   // a CR ended the previous append
    bool m_appending = false; // an append is under way: it repaints what changed

    // The font, learnt when it changes: the width of a column, whether every
    // character has it, and each Latin-1 character's glyph, where it is
    // drawn as one (plain).
    int m_advance = 1;
    bool m_fixed = false;
    QRawFont m_raw;
    bool m_plain[256] = {};
    quint32 m_glyphs[256] = {};
    qreal m_advances[256] = {};
    QVector<quint32> m_runGlyphs;      // the glyph run of one paint, kept
    QVector<QPointF> m_runPositions;   // to spare allocations
};

} // namespace ui
