// A small JCAMP-DX reader for the tests, written from the format's rules and not from Velmora's
// writer: labelled data records "##LABEL= value", NTUPLES blocks with comma-separated per-symbol
// lists (##FIRST, ##FACTOR, ##UNITS, ...), and pages of AFFN data tables "(X++(Y..Y))" whose lines
// carry the abscissa of their first ordinate followed by the ordinates. Ordinates are multiplied by
// the symbol's ##FACTOR; abscissae are rebuilt from ##FIRST, ##LAST and the point count.
#pragma once

#include <cstddef>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::testing {

struct JcampPage {
    std::string page;        // the text after "##PAGE=", e.g. "N=1" or "F1=-250"
    std::string table;       // the text after "##DATA TABLE="
    std::vector<double> x;   // the abscissa of every ordinate, from the file's axis labels
    std::vector<double> y;   // ordinates times ##FACTOR
    std::vector<double> lineX;  // the abscissa each data line states for its first ordinate
    std::vector<std::size_t> lineFirst;  // the index of that ordinate
};

struct JcampFile {
    std::map<std::string, std::string> labels;  // every label outside the pages, by canonical name
    std::vector<std::string> symbols;
    std::vector<JcampPage> pages;

    // The entry of a per-symbol list label (FIRST, LAST, FACTOR, UNITS, VARDIM, ...) for `symbol`.
    std::string field(const std::string& label, const std::string& symbol) const
    {
        const std::vector<std::string> list = splitList(labels.at(label));
        for (std::size_t k = 0; k < symbols.size() && k < list.size(); ++k)
            if (symbols[k] == symbol)
                return list[k];
        throw std::out_of_range("no " + label + " for " + symbol);
    }
    double number(const std::string& label, const std::string& symbol) const
    {
        return std::stod(field(label, symbol));
    }

    static std::string trim(const std::string& text)
    {
        const auto from = text.find_first_not_of(" \t\r");
        const auto to = text.find_last_not_of(" \t\r");
        return from == std::string::npos ? std::string() : text.substr(from, to - from + 1);
    }
    static std::vector<std::string> splitList(const std::string& text)
    {
        std::vector<std::string> parts;
        std::stringstream in(text);
        for (std::string part; std::getline(in, part, ',');)
            parts.push_back(trim(part));
        return parts;
    }
    // Labels compare without spaces, dashes, underscores or case.
    static std::string canonical(const std::string& label)
    {
        std::string name;
        for (const char c : label)
            if (c != ' ' && c != '-' && c != '_')
                name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }
};

inline JcampFile readJcamp(const std::string& text)
{
    JcampFile file;
    std::stringstream in(text);
    JcampPage* page = nullptr;
    for (std::string line; std::getline(in, line);) {
        line = JcampFile::trim(line);
        if (line.rfind("##", 0) == 0) {
            const auto equals = line.find('=');
            if (equals == std::string::npos)
                throw std::runtime_error("a label without '=': " + line);
            const std::string label = JcampFile::canonical(line.substr(2, equals - 2));
            const std::string value = JcampFile::trim(line.substr(equals + 1));
            if (label == "PAGE") {
                file.pages.push_back({value, {}, {}, {}, {}, {}});
                page = &file.pages.back();
            } else if (label == "DATATABLE" && page != nullptr) {
                page->table = value;
            } else if (page == nullptr || label == "ENDNTUPLES" || label == "END") {
                file.labels[label] = value;
                page = label == "ENDNTUPLES" ? nullptr : page;
            }
            if (label == "SYMBOL")
                file.symbols = JcampFile::splitList(value);
            continue;
        }
        if (page == nullptr || page->table.empty() || line.empty())
            continue;
        std::stringstream numbers(line);
        double x = 0.0;
        numbers >> x;
        page->lineX.push_back(x);
        page->lineFirst.push_back(page->y.size());
        for (double y; numbers >> y;)
            page->y.push_back(y);
    }
    // Scale the ordinates and lay out the abscissae of every page.
    for (JcampPage& p : file.pages) {
        const auto open = p.table.find("(");
        const auto plus = p.table.find("++");
        const auto dots = p.table.find("..");
        if (open == std::string::npos || plus == std::string::npos || dots == std::string::npos)
            throw std::runtime_error("not an (X++(Y..Y)) table: " + p.table);
        const std::string xSymbol = p.table.substr(open + 1, plus - open - 1);
        const std::string ySymbol = p.table.substr(plus + 3, dots - plus - 3);
        const double factor = file.number("FACTOR", ySymbol);
        for (double& y : p.y)
            y *= factor;
        const double first = file.number("FIRST", xSymbol);
        const double last = file.number("LAST", xSymbol);
        const std::size_t n = p.y.size();
        for (std::size_t i = 0; i < n; ++i)
            p.x.push_back(n == 1 ? first : first + (last - first) * static_cast<double>(i) / static_cast<double>(n - 1));
    }
    return file;
}

}  // namespace velmora::testing
