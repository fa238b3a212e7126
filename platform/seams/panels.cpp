// Test seams of the panel resource: panels built from text in memory, and
// text read as LoadPanel reads it, its numbers handed back in plain types.
#include "engine_seams.h"

#include "ui/panel_resource.h"
#include "ui/ui_internal.h"

int SeamLoadPanelFromText(int parent, const std::string &resourceText, int resource, const char *where)
{
    return ui::load_panel(parent, QByteArray::fromStdString(resourceText), resource, QString::fromUtf8(where));
}

int SeamParsePanel(const std::string &text, int resource, const char *where, SeamPanelNumbers &numbers,
                   std::string &error)
{
    ui::PanelLayout layout;
    QString why;
    const int parsed = ui::parse_panel(QByteArray::fromStdString(text), resource, QString::fromUtf8(where), layout, why);
    error = why.toStdString();
    numbers = SeamPanelNumbers{};
    numbers.width = layout.width;
    numbers.height = layout.height;
    for (const ui::ControlLayout &c : layout.controls)
        numbers.controls.push_back(SeamControlNumbers{c.id, c.x, c.y, c.width, c.height, c.fontSize, c.interval});
    return parsed;
}
