#pragma once

#include <QString>

#include <optional>

// What decides whether a new slide-information document is needed: the three notes and the two
// thumbnails of the last one built.
class InfoDTO {
public:
    // Note the order: the current thumbnail comes before the next one.
    InfoDTO(std::optional<QString> note, std::optional<QString> nextNote,
            std::optional<QString> alternateNote, std::optional<QString> currentThumbString,
            std::optional<QString> nextThumbString);

    // Field by field; a field absent here never equals, even an absent one there.
    bool isEqual(const InfoDTO& other) const;

    std::optional<QString> Note;
    std::optional<QString> NextNote;
    std::optional<QString> AlternateNote;
    std::optional<QString> NextThumbString;
    std::optional<QString> CurrentThumbString;
};
