#pragma once
// The device list's rules written out step by step, with no shortcut: the
// duplicate check reads every row's MAC text, and every comparison of the sort
// decodes both items' MAC addresses and searches their rows again. Tests and
// the benchmark compare the real list with it.

#include "devicerow.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace literal {

struct Row {
    std::array<std::string, veltrona::kColumnCount> texts;
    HKOVAITEM item;
};

class DeviceList {
public:
    using MacReader = std::function<bool(HKOVAITEM, uint8_t mac[6])>;
    explicit DeviceList(MacReader reader) : m_readMac(std::move(reader)) {}

    std::vector<Row> rows;
    int sortColumn = -1;
    std::array<int, veltrona::kColumnCount> direction{};

    int FindDevice(const uint8_t mac[6]) const {
        if (rows.empty())
            return -1;
        char wanted[18];
        std::snprintf(wanted, sizeof wanted, "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", mac[0], mac[1],
                      mac[2], mac[3], mac[4], mac[5]);
        for (size_t i = 0; i < rows.size(); ++i) {
            char text[18] = {};
            std::strncpy(text, rows[i].texts[veltrona::ColMacAddress].c_str(), 17);
            if (std::strcmp(text, wanted) == 0)
                return int(i);
        }
        return -1;
    }

    int AddDevice(const DEVICE_ROW *row, HKOVAITEM item) {
        if (row == nullptr)
            return 0;
        if (FindDevice(row->mac) >= 0)
            return 0;
        rows.push_back({veltrona::rowTexts(*row), item});
        return 1;
    }

    int CompareRows(HKOVAITEM item1, HKOVAITEM item2, int column) const {
        const std::string text1 = textOf(item1, column);
        const std::string text2 = textOf(item2, column);
        const int order = std::strcmp(text1.c_str(), text2.c_str());
        const int sign = order < 0 ? -1 : order > 0 ? 1 : 0;
        return direction[column] > 0 ? sign : -sign;
    }

    // The list's sort with CompareRows as its comparison; stable, so that rows
    // that compare equal keep their order.
    void OnColumnClick(int column) {
        if (column == sortColumn)
            direction[column] = direction[column] <= 0 ? 1 : -1;
        else
            sortColumn = column;
        std::vector<size_t> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return CompareRows(rows[a].item, rows[b].item, column) < 0;
        });
        std::vector<Row> sorted;
        sorted.reserve(rows.size());
        for (size_t index : order)
            sorted.push_back(rows[index]);
        rows = std::move(sorted);
    }

private:
    std::string textOf(HKOVAITEM item, int column) const {
        uint8_t mac[6];
        if (!m_readMac(item, mac))
            return {};
        const int row = FindDevice(mac);
        return row < 0 ? std::string() : rows[size_t(row)].texts[size_t(column)];
    }

    MacReader m_readMac;
};

} // namespace literal
