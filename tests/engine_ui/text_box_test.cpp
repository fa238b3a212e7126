// The live text box: every byte shown as itself, every kind of line end one
// break, and a memory bound that drops the oldest text however the bytes come.
#include "ui_test.h"

#include "ui/text_box.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <sstream>

using namespace ui_test;
using ui::TextBox;

namespace {

class TextBoxTest : public UiTest {};

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct Breaks {
    const char *what;
    std::vector<std::string> appends;
    std::string shown;
};

PRINTED_AS_WHAT(Breaks)

class LineBreaks : public UiTest, public ::testing::WithParamInterface<Breaks> {};

} // namespace

TEST_F(TextBoxTest, EveryByteIsOneLatin1CharacterOfItsOwnValue)
{
    const int panel = shown_all_kinds();
    std::string bytes;
    for (int b = 1; b <= 0xFF; ++b)
        if (b != '\r' && b != '\n')
            bytes.push_back(static_cast<char>(b));
    ResetTextBox(panel, kTextBox, "");
    ASSERT_EQ(SetCtrlVal(panel, kTextBox, bytes.c_str()), 0);
    EXPECT_EQ(SeamCtrlText(panel, kTextBox), bytes);

    TextBox box;
    box.append(bytes.c_str());
    const QString text = box.text();
    ASSERT_EQ(text.size(), static_cast<int>(bytes.size()));
    for (int i = 0; i < text.size(); ++i)
        EXPECT_EQ(text[i].unicode(), static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]));
}

TEST_P(LineBreaks, AreOneBreakEach)
{
    TextBox box;
    for (const std::string &chunk : GetParam().appends)
        box.append(chunk.c_str());
    EXPECT_EQ(box.text().toLatin1().toStdString(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    TextBox, LineBreaks,
    ::testing::Values(Breaks{"CRLF", {"a\r\nb"}, "a\nb"}, Breaks{"lone_CR", {"a\rb"}, "a\nb"},
                      Breaks{"lone_LF", {"a\nb"}, "a\nb"},
                      Breaks{"LF_CR_is_two", {"a\n\rb"}, "a\n\nb"},
                      Breaks{"CRLF_twice", {"a\r\n\r\nb"}, "a\n\nb"},
                      Breaks{"CR_then_LF_in_next_append", {"a\r", "\nb"}, "a\nb"},
                      Breaks{"CR_then_LF_alone", {"a\r", "\n", "b"}, "a\nb"},
                      Breaks{"CR_then_text", {"a\r", "b"}, "a\nb"},
                      Breaks{"CR_then_CRLF", {"a\r", "\r\nb"}, "a\n\nb"},
                      Breaks{"CR_empty_append_LF", {"a\r", "", "\nb"}, "a\nb"},
                      Breaks{"LF_then_LF", {"a\n", "\nb"}, "a\n\nb"},
                      Breaks{"trailing_CRLF", {"a\r\n"}, "a\n"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(TextBoxTest, KeepsTheNewestLinesUpToItsLineLimit)
{
    TextBox box;
    const int total = 5000;
    for (int i = 0; i < total; ++i)
        box.append(("line " + std::to_string(i) + "\r\n").c_str());
    EXPECT_LE(box.lineCount(), TextBox::kMaxLines);

    const std::vector<std::string> lines = split_lines(box.text().toStdString());
    ASSERT_GT(lines.size(), static_cast<std::size_t>(TextBox::kMaxLines) * 9 / 10);
    EXPECT_EQ(lines.back(), "line 4999");
    const int first = total - static_cast<int>(lines.size());
    EXPECT_GT(first, 0) << "the oldest line is still there";
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], "line " + std::to_string(first + static_cast<int>(i))) << "line " << i;
}

TEST_F(TextBoxTest, KeepsTheNewestTextUpToItsMemoryLimit)
{
    TextBox box;
    const int total = 1500; // lines of 1000 characters: 1.5 MB in all
    for (int i = 0; i < total; ++i) {
        std::string line = std::to_string(i) + ":";
        line.resize(1000, static_cast<char>('a' + i % 26));
        box.append((line + "\n").c_str());
    }
    EXPECT_LE(box.charCount(), TextBox::kMaxChars);
    EXPECT_GE(box.charCount(), TextBox::kMaxChars - 1000) << "dropped more than needed";
    const std::vector<std::string> lines = split_lines(box.text().toStdString());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(0, 5), "1499:");
    EXPECT_NE(lines.front().substr(0, 2), "0:");
}

TEST_F(TextBoxTest, TextWithoutLineBreaksIsFoldedAndReadsBackWhole)
{
    TextBox box;
    const std::string chunk(700, 'x'); // folds fall inside appends
    const int total = 100000;
    int appended = 0;
    for (; appended + static_cast<int>(chunk.size()) <= total; appended += static_cast<int>(chunk.size()))
        box.append(chunk.c_str());
    box.append(std::string(static_cast<std::size_t>(total - appended), 'x').c_str());

    for (int i = 0; i < box.lineCount(); ++i)
        ASSERT_LE(box.lineText(i).size(), TextBox::kMaxLineLength) << "line " << i;
    EXPECT_EQ(box.lineCount(), (total + TextBox::kMaxLineLength - 1) / TextBox::kMaxLineLength);
    EXPECT_EQ(box.text().toStdString(), std::string(total, 'x'));

    // A real break after folded text still shows as one.
    box.append("\r\nend");
    EXPECT_EQ(box.text().toStdString(), std::string(total, 'x') + "\nend");
}

TEST_F(TextBoxTest, EndlessTextWithoutLineBreaksStaysWithinTheMemoryLimit)
{
    TextBox box;
    std::string chunk(4096, 'x');
    for (int i = 0; i < 512; ++i) { // 2 MiB
        chunk[0] = static_cast<char>('a' + i % 26); // marks where each append began
        box.append(chunk.c_str());
    }
    box.append("END");
    EXPECT_LE(box.charCount(), TextBox::kMaxChars);
    EXPECT_GE(box.charCount(), TextBox::kMaxChars - TextBox::kMaxLineLength);
    const std::string text = box.text().toStdString();
    EXPECT_EQ(static_cast<long>(text.size()), box.charCount()) << "folds were joined with breaks";
    EXPECT_EQ(text.substr(text.size() - 4099), std::string(1, static_cast<char>('a' + 511 % 26)) +
                                                   std::string(4095, 'x') + "END");
}

TEST_F(TextBoxTest, ResetStartsAfreshAlsoAfterAPendingCR)
{
    TextBox box;
    box.append("old\r");
    box.reset("new");
    box.append("\nnext");
    EXPECT_EQ(box.text().toStdString(), "new\nnext");
    box.reset("");
    EXPECT_EQ(box.text().toStdString(), "");
    EXPECT_EQ(box.charCount(), 0);
}

TEST_F(TextBoxTest, ScrolledLongLineShowsTheSameColumnsAsTheTextFromThere)
{
    // Only the columns in view of a long line are drawn; what shows must be
    // exactly what the text holds from the first visible column on.
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    std::string line;
    for (int i = 0; i < 90; ++i)
        line += "0123456789ABCDEF"[i % 16] + std::string("bcdefghij");
    TextBox scrolled, reference;
    for (TextBox *box : {&scrolled, &reference}) {
        box->setFont(mono);
        box->resize(400, 80);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    const int advance = QFontMetrics(mono).horizontalAdvance(QLatin1Char('M'));
    const int column = 437;
    scrolled.append(line.c_str());
    scrolled.horizontalScrollBar()->setValue(column * advance);
    ASSERT_EQ(scrolled.horizontalScrollBar()->value(), column * advance);
    reference.append(line.substr(column).c_str());
    const QImage shown = scrolled.grab().toImage();
    EXPECT_EQ(shown, reference.grab().toImage());
    TextBox empty;
    empty.setFont(mono);
    empty.resize(400, 80);
    EXPECT_NE(shown, empty.grab().toImage()) << "the text is drawn at all";
}

TEST_F(TextBoxTest, DrawsEveryLineExactlyAsDrawTextDoes)
{
    // Plain lines are drawn as glyphs straight from the font, the others by
    // the shaper: either way the pixels are those of QPainter::drawText.
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const std::vector<std::string> lines = {"41 0D FF 00 7E 20 ", "$GPGGA,123519,4807.038,N,01131.000,E*47",
                                            "ctl \x01\x1B\x1F\x7F\x80\x85\x9C end", "Latin-1 \xE9\xFC\xB1\xA0\xFF, soft \xAD hyphen"};
    TextBox box;
    box.setFont(mono);
    box.resize(500, 120);
    box.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    box.reset(text.c_str());
    const QImage shown = box.viewport()->grab().toImage();
    QImage reference(shown.size(), shown.format());
    reference.fill(box.viewport()->palette().color(QPalette::Base));
    {
        QPainter painter(&reference);
        painter.setFont(mono);
        painter.setPen(box.palette().color(QPalette::Text));
        const QFontMetrics metrics(mono);
        for (std::size_t i = 0; i < lines.size(); ++i)
            painter.drawText(4, metrics.ascent() + 2 + static_cast<int>(i) * metrics.lineSpacing(),
                             QString::fromLatin1(lines[i].c_str()));
    }
    EXPECT_EQ(shown, reference);
}

TEST_F(TextBoxTest, WhatAppendsLeaveOnScreenIsTheWholeTextDrawnAfresh)
{
    // Appends move what stays in view and draw only what changed; what the
    // screen holds after each must be what a paint of the whole box gives.
    TextBox box;
    box.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    box.resize(400, 120);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const std::vector<std::string> appends = {"first line\r\nsecond", " continued\r\n", "third\r",
                                              "\nfourth\r\nfifth\r\nsixth\r\n", std::string(5000, 'x'),
                                              "\r\nend of a long one\r\n", "one\r\ntwo\r\n", "\x01\x7F tail"};
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < appends.size(); ++i) {
            box.append(appends[i].c_str());
            if (i % 3 == 2)
                continue; // two appends before the next paint
            QApplication::processEvents();
            const QRect area(box.viewport()->mapTo(&box, QPoint(0, 0)), box.viewport()->size());
            const QImage onScreen = box.screen()->grabWindow(box.winId(), area.x(), area.y(), area.width(), area.height()).toImage();
            ASSERT_EQ(onScreen.convertToFormat(QImage::Format_RGB32),
                      box.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32))
                << "round " << round << ", after append " << i;
        }
}

TEST_F(TextBoxTest, PanelCanBeDiscardedWhileTheBoxMenuIsOpen)
{
    // A timer callback may discard the panel while the operator has the
    // box's menu open; the box and its menu go without harm.
    const int panel = shown_all_kinds();
    TextBox *box = nullptr;
    for (QWidget *w : QApplication::allWidgets())
        if (auto *t = qobject_cast<TextBox *>(w))
            box = t;
    ASSERT_NE(box, nullptr);
    bool discarded = false;
    SeamRunLater(30, [&] { discarded = DiscardPanel(panel) == 0; });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(box->viewport(), &menuEvent);
    QPointer<QMenu> menu = box->findChild<QMenu *>();
    ASSERT_FALSE(menu.isNull());
    EXPECT_TRUE(menu->isVisible()) << "the menu is open";
    EXPECT_TRUE(SeamProcessEventsUntil([&] { return discarded && menu.isNull(); }, 2000));
    EXPECT_FALSE(SeamPanelExists(panel));
}
