#pragma once

// Call-progress tone plans of the exchanges of many countries: which frequencies each tone
// uses and how it is switched on and off. The built-in table is resources/tones/tones.csv,
// compiled into the library; parse() reads any text in the same format:
//
//   country,kind,frequencies_hz,cadence_ms,source
//   United Kingdom,ringback,400+450,400/200/400/2000,"BT SIN 350, ..."
//
// - kind: dial, ringback, busy or congestion (reorder, fast busy and network busy);
// - frequencies_hz: one frequency, "a+b" (two tones added) or "a*b" (carrier a amplitude-
//   modulated at b Hz);
// - cadence_ms: on/off pairs in milliseconds that repeat, or "continuous".
// Fields may be quoted as in RFC 4180 (a quoted field may hold commas and doubled quotes).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvox::sim {

enum class ToneKind { Dial, Ringback, Busy, Congestion };

std::string_view toneKindName(ToneKind kind);
std::optional<ToneKind> toneKindFromName(std::string_view name);

struct TonePlan
{
    enum class Mix { Single, Sum, Modulated };

    std::string country;
    ToneKind kind = ToneKind::Dial;
    Mix mix = Mix::Single;
    // Single: {f}; Sum: {a, b}; Modulated: {carrier, modulating frequency}.
    std::vector<double> frequenciesHz;
    // On/off durations in ms, starting with "on"; empty for a continuous tone.
    std::vector<int> cadenceMs;
    std::string source;

    bool continuous() const { return cadenceMs.empty(); }
};

struct TonePlanError
{
    int line = 0; // 1-based line of the text; 0 for the text as a whole
    std::string message;
};

class TonePlans
{
public:
    // Parses the CSV text (header line first). On failure returns nothing and, when `error`
    // is given, fills it with the first offending line.
    static std::optional<TonePlans> parse(std::string_view csv, TonePlanError *error = nullptr);
    // The table compiled into the library, parsed on first use. It never changes.
    static const TonePlans &builtIn();

    std::span<const TonePlan> all() const { return m_plans; }
    // The plan of `country` (compared without regard to ASCII case) and `kind`; nullptr when
    // the table has no such row.
    const TonePlan *find(std::string_view country, ToneKind kind) const;
    // Countries in table order, each once.
    std::vector<std::string> countries() const;

private:
    std::vector<TonePlan> m_plans;
};

} // namespace telvox::sim
