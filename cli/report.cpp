#include "cli/report.h"

#include <algorithm>
#include <iostream>
#include <sstream>

void printError(const std::string &identifier, const std::string &message, const std::string &context) {
    std::istringstream lines(message);
    for (std::string line; std::getline(lines, line);)
        std::cerr << "error: " << identifier << ": " << context << line << "\n";
}

void printError(const orvane::HostError &e, const std::string &context) {
    printError(e.identifier(), e.message(), context);
}

void printUsageError(const std::string &message) { std::cerr << "error: usage: " << message << "\n"; }

void printNotice(const std::string &message) { std::cerr << "warning: " << message << "\n"; }

void WarningPrinter::print(const std::string &identifier, const std::string &message) {
    if (++counts_[identifier] <= kShownPerIdentifier) std::cerr << "warning: " << identifier << ": " << message << "\n";
}

void WarningPrinter::print(const std::vector<orvane::Warning> &warnings) {
    for (const orvane::Warning &w : warnings) print(w.identifier, w.message);
}

int64_t WarningPrinter::numStillShown(const std::string &identifier) const {
    auto it = counts_.find(identifier);
    return kShownPerIdentifier - (it == counts_.end() ? 0 : std::min(it->second, kShownPerIdentifier));
}

void WarningPrinter::printSummary() const {
    for (const auto &[identifier, count] : counts_) {
        if (count > kShownPerIdentifier)
            std::cerr << "warning: " << identifier << ": " << (count - kShownPerIdentifier)
                      << " more warnings not shown\n";
    }
}

void printWarnings(const std::vector<fazolt::Warning> &warnings) {
    WarningPrinter printer;
    for (const fazolt::Warning &w : warnings) printer.print(w.identifier, w.message);
    printer.printSummary();
}
