#include "sim/tones/TonePlans.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace telvox::sim {

// Generated at build time from resources/tones/tones.csv (see CMakeLists.txt).
extern const char kTonesCsv[];
extern const std::size_t kTonesCsvSize;

namespace {

constexpr std::array<std::string_view, 4> kKindNames = {"dial", "ringback", "busy", "congestion"};
constexpr std::string_view kHeader = "country,kind,frequencies_hz,cadence_ms,source";

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// Splits one CSV record into fields; false on a stray or unterminated quote.
bool splitRecord(std::string_view line, std::vector<std::string> &fields)
{
    fields.clear();
    std::string field;
    std::size_t i = 0;
    while (true) {
        field.clear();
        if (i < line.size() && line[i] == '"') {
            ++i;
            while (true) {
                if (i >= line.size())
                    return false;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',')
                return false;
        } else {
            while (i < line.size() && line[i] != ',') {
                if (line[i] == '"')
                    return false;
                field += line[i++];
            }
        }
        fields.push_back(field);
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

template<typename T>
bool parseNumber(std::string_view text, T &value)
{
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseFrequencies(std::string_view text, TonePlan &plan, std::string &message)
{
    const std::size_t operatorAt = text.find_first_of("+*");
    std::vector<std::string_view> parts;
    if (operatorAt == std::string_view::npos) {
        plan.mix = TonePlan::Mix::Single;
        parts = {text};
    } else {
        plan.mix = text[operatorAt] == '+' ? TonePlan::Mix::Sum : TonePlan::Mix::Modulated;
        parts = {text.substr(0, operatorAt), text.substr(operatorAt + 1)};
    }
    plan.frequenciesHz.clear();
    for (const std::string_view part : parts) {
        double hz = 0;
        if (!parseNumber(part, hz) || hz <= 0 || hz >= 4000) {
            message = "bad frequency \"" + std::string(text) + "\"";
            return false;
        }
        plan.frequenciesHz.push_back(hz);
    }
    return true;
}

bool parseCadence(std::string_view text, TonePlan &plan, std::string &message)
{
    plan.cadenceMs.clear();
    if (text == "continuous")
        return true;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = text.find('/', start);
        const std::string_view part = text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        int ms = 0;
        if (!parseNumber(part, ms) || ms <= 0) {
            message = "bad cadence \"" + std::string(text) + "\"";
            return false;
        }
        plan.cadenceMs.push_back(ms);
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    if (plan.cadenceMs.size() % 2 != 0) {
        message = "cadence \"" + std::string(text) + "\" is not a list of on/off pairs";
        return false;
    }
    return true;
}

} // namespace

std::string_view toneKindName(ToneKind kind)
{
    return kKindNames[static_cast<std::size_t>(kind)];
}

std::optional<ToneKind> toneKindFromName(std::string_view name)
{
    for (std::size_t i = 0; i < kKindNames.size(); ++i)
        if (kKindNames[i] == name)
            return static_cast<ToneKind>(i);
    return std::nullopt;
}

std::optional<TonePlans> TonePlans::parse(std::string_view csv, TonePlanError *error)
{
    const auto fail = [&](int line, std::string message) -> std::optional<TonePlans> {
        if (error)
            *error = {line, std::move(message)};
        return std::nullopt;
    };

    TonePlans plans;
    std::vector<std::string> fields;
    int lineNumber = 0;
    bool headerSeen = false;
    std::size_t start = 0;
    while (start < csv.size()) {
        std::size_t end = csv.find('\n', start);
        if (end == std::string_view::npos)
            end = csv.size();
        std::string_view line = csv.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!headerSeen) {
            if (line != kHeader)
                return fail(lineNumber, "the first line is not the header \"" + std::string(kHeader) + "\"");
            headerSeen = true;
            continue;
        }
        if (!splitRecord(line, fields))
            return fail(lineNumber, "bad quoting");
        if (fields.size() != 5)
            return fail(lineNumber, "expected 5 fields, found " + std::to_string(fields.size()));

        TonePlan plan;
        plan.country = fields[0];
        if (plan.country.empty())
            return fail(lineNumber, "no country");
        const std::optional<ToneKind> kind = toneKindFromName(fields[1]);
        if (!kind)
            return fail(lineNumber, "unknown kind \"" + fields[1] + "\"");
        plan.kind = *kind;
        std::string message;
        if (!parseFrequencies(fields[2], plan, message) || !parseCadence(fields[3], plan, message))
            return fail(lineNumber, message);
        plan.source = fields[4];
        if (plans.find(plan.country, plan.kind))
            return fail(lineNumber, "second " + fields[1] + " row for " + plan.country);
        plans.m_plans.push_back(std::move(plan));
    }
    if (!headerSeen)
        return fail(0, "empty table");
    return plans;
}

const TonePlans &TonePlans::builtIn()
{
    static const TonePlans plans = parse(std::string_view(kTonesCsv, kTonesCsvSize)).value_or(TonePlans());
    return plans;
}

const TonePlan *TonePlans::find(std::string_view country, ToneKind kind) const
{
    for (const TonePlan &plan : m_plans)
        if (plan.kind == kind && equalsIgnoringCase(plan.country, country))
            return &plan;
    return nullptr;
}

std::vector<std::string> TonePlans::countries() const
{
    std::vector<std::string> names;
    for (const TonePlan &plan : m_plans)
        if (std::find(names.begin(), names.end(), plan.country) == names.end())
            names.push_back(plan.country);
    return names;
}

} // namespace telvox::sim
