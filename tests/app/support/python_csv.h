#pragma once
// A CSV file as Python's csv module reads it (a reader that shares no code with the writer):
// fields travel hex-encoded; a file Python cannot parse fails the test and gives no rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> ReadCsvWithPython(const std::string& path) {
    const std::string out = path + ".fields";
    const std::string command =
        "python3 -c \"import csv,sys\n"
        "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8', errors='strict'),"
        " strict=True))\n"
        "open(sys.argv[2], 'w').write(''.join(','.join(f.encode().hex() for f in r) + '\\n'"
        " for r in rows))\" '" +
        path + "' '" + out + "' 2>&1";
    std::vector<std::vector<std::string>> rows;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "python3 could not parse " << path;
        return rows;
    }
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string hex; std::getline(split, hex, ',');) {
            std::string field;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                field.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
            fields.push_back(field);
        }
        if (!line.empty() && line.back() == ',')
            fields.push_back("");
        rows.push_back(fields);
    }
    std::remove(out.c_str());
    return rows;
}
