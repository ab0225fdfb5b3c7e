#pragma once
// The log window: keeps every line for the whole run (a script may log all night),
// appends in constant time and holds a million lines in far less memory than a
// text document would. Lines are stored as Latin-1 bytes, so any byte an answer
// holds comes back out unchanged.
#include <QListView>
#include <QString>
#include <cstdint>

class LogView : public QListView {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    // Appends one line in a colour (red in the low byte: 0 black, 255 red) and
    // scrolls it into view.
    void addLine(const QString& text, std::uint32_t colour);
    void clear();

    qsizetype lineCount() const;
    QString lineText(qsizetype index) const;
    std::uint32_t lineColour(qsizetype index) const;

    // The selected lines in order, joined by "\n"; empty without a selection.
    QString selectedText() const;
    // Puts selectedText() on the clipboard; Ctrl+C does the same.
    void copySelection();

    // Writes every line as Latin-1, each followed by CR LF, replacing the file.
    // False when the file cannot be created or written.
    bool saveToFile(const QString& path) const;
};
