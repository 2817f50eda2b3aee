#include "item_ranges.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "usage_error.h"
#include "value_parsing.h"

namespace quelvan::cli {

TItemRange ParseItemRange(const TItemTable& Table, const std::string& Text, const std::string& What) {
    const size_t equals = Text.find('=');
    const std::string range = Text.substr(0, equals);
    const size_t dash = range.find('-');
    TItemRange r{&Table, ParseWord(range.substr(0, dash), What + ": START"), 1, 0};
    if (dash != std::string::npos) {
        const uint16_t end = ParseWord(range.substr(dash + 1), What + ": END");
        if (end < r.Start)
            throw EUsageError(What + ": '" + range + "' ends before it starts");
        r.Count = uint32_t{end} - r.Start + 1;
    }
    if (equals != std::string::npos) {
        const std::string value = Text.substr(equals + 1);
        r.Value = Table.IsBit ? (ParseBit(value, What + ": VALUE") ? 1 : 0) : ParseWord(value, What + ": VALUE");
    }
    return r;
}

std::vector<TItemRange> ReadItemMapFile(const std::string& Path) {
    std::ifstream file(Path);
    if (!file) throw EUsageError("--map: cannot read '" + Path + "'");
    std::vector<TItemRange> ranges;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = line.substr(0, line.find('#'));
        const std::string where = Path + ":" + std::to_string(number);
        const auto first = std::find_if_not(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); });
        const auto nameEnd = std::find_if(first, line.end(), [](unsigned char c) { return std::isspace(c); });
        const std::string name(first, nameEnd);
        if (name.empty()) continue;
        const TItemTable* table = FindItemTable(name);
        if (!table)
            throw EUsageError(where + ": unknown table '" + name + "' (coils, inputs, holding, input-registers)");
        std::string range(nameEnd, line.end());
        range.erase(std::remove_if(range.begin(), range.end(), [](unsigned char c) { return std::isspace(c); }),
                    range.end());
        if (range.empty()) throw EUsageError(where + ": '" + name + "' needs a range, e.g. " + name + " 0-99");
        ranges.push_back(ParseItemRange(*table, range, where));
    }
    if (file.bad()) throw EUsageError("--map: cannot read '" + Path + "'");
    return ranges;
}

std::string DescribeItemRange(const TItemRange& R) {
    std::string s = std::string(R.Table->Name) + " " + std::to_string(R.Start);
    if (R.Count > 1) s += "-" + std::to_string(R.Start + R.Count - 1);
    return s + " = " + std::to_string(R.Value);
}

}  // namespace quelvan::cli
