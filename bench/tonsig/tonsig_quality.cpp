// Prints the quality table of the stop-recording triggers on the generated sets and exits
// with 1 when a target is missed.
// Usage: telvox_tonsig_quality [--trials N] [--talk SECONDS] [--country NAME]... [--condition NAME]...
//        [--speech FOLDER] [--failures]   (--failures: each failed call, buffer by buffer, on stderr)
#include "ToneQuality.h"

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    telvox::quality::Options options;
    std::string folder = TELVOX_SPEECH_SET_DIR;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--trials") && more)
            options.trials = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--talk") && more)
            options.speechSeconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--country") && more)
            options.countries.emplace_back(argv[++i]);
        else if (!std::strcmp(argv[i], "--condition") && more)
            options.conditions.emplace_back(argv[++i]);
        else if (!std::strcmp(argv[i], "--failures"))
            options.failures = &std::cerr;
        else if (!std::strcmp(argv[i], "--speech") && more)
            folder = argv[++i];
        else {
            std::cerr << "usage: " << argv[0]
                      << " [--trials N] [--talk SECONDS] [--country NAME]... [--condition NAME]... [--speech FOLDER] [--failures]\n";
            return 2;
        }
    }
    std::string error;
    const auto speech = telvox::quality::SpeechSet::load(folder, &error);
    if (!speech) {
        std::cerr << error << "\n";
        return 2;
    }
    const telvox::quality::Report report = telvox::quality::run(*speech, options);
    report.print(std::cout);
    const auto missed = report.missedTargets();
    std::cout << "\n";
    for (const std::string &m : missed)
        std::cout << "MISSED: " << m << "\n";
    if (missed.empty())
        std::cout << "every target met\n";
    return missed.empty() ? 0 : 1;
}
