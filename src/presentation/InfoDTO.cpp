#include "InfoDTO.h"

InfoDTO::InfoDTO(std::optional<QString> note, std::optional<QString> nextNote,
                 std::optional<QString> alternateNote, std::optional<QString> currentThumbString,
                 std::optional<QString> nextThumbString)
    : Note(std::move(note))
    , NextNote(std::move(nextNote))
    , AlternateNote(std::move(alternateNote))
    , NextThumbString(std::move(nextThumbString))
    , CurrentThumbString(std::move(currentThumbString)) {}

bool InfoDTO::isEqual(const InfoDTO& other) const {
    const auto same = [](const std::optional<QString>& mine, const std::optional<QString>& theirs) {
        return mine && theirs && *mine == *theirs;
    };
    return same(Note, other.Note) && same(NextNote, other.NextNote) &&
           same(AlternateNote, other.AlternateNote) && same(CurrentThumbString, other.CurrentThumbString) &&
           same(NextThumbString, other.NextThumbString);
}
