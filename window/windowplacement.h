#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

namespace palisor {

// A small INI file in the private-profile manner: sections and keys compare
// without regard to letter case, values are the text after the first "=",
// and writing a key keeps every other line of the file as it was.
class IniFile {
public:
    explicit IniFile(const QString& path);
    // The value, or nothing when the file, the section or the key is missing.
    std::optional<QString> Read(const QString& section, const QString& key) const;
    void Write(const QString& section, const QString& key, const QString& value);
    // Throws palisor::Error when the file cannot be written.
    void Save() const;

private:
    QString path_;
    QStringList lines_;
};

// The window's normal rectangle from a "NormalPos" text "left,top,right,bottom"
// (right and bottom exclusive). A part that is not a number falls back to the
// current rectangle's value. Nothing when the text is empty or the left edge
// is not left of the right edge.
std::optional<QRect> ParseNormalPos(const QString& text, const QRect& current);
QString FormatNormalPos(const QRect& rect);

}  // namespace palisor
