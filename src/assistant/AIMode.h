#pragma once

// The ten ways the assistant answers a question, with the texts the assistant
// panel shows for each (pop-up title, placeholder, help) and whether the mode
// may ask the local model.

#include <QList>
#include <QString>

#include <optional>

namespace quorvel {

class AIMode {
public:
    // In the pop-up's order. `automatic` is the mode named "auto": the word is
    // taken in C++.
    enum Value { automatic, answer, report, views, biography, term, history, takhrij, sources, data };

    constexpr AIMode(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Exact, case-sensitive match of a mode name ("auto", "answer", …);
    // anything else gives nothing.
    static std::optional<AIMode> fromRawValue(const QString& name);
    static const QList<AIMode>& allCases();

    QString rawValue() const;
    QString title() const;
    QString hint() const;  // placeholder of the question field
    QString help() const;  // tooltip of the kind pop-up
    // False for the modes that are computed from the library alone.
    bool usesModel() const;

private:
    Value value_;
};

} // namespace quorvel
