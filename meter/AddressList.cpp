#include "meter/AddressList.h"

#include "meter/MeterOps.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace md::meter {

namespace {

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A whole decimal number; digits only, so "+3" and "3a" are not numbers.
std::optional<int> Number(std::string_view s) {
    s = Trimmed(s);
    if (s.empty() || s.size() > 6 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int value = 0;
    std::from_chars(s.data(), s.data() + s.size(), value);
    return value;
}

bool InRange(int a) {
    return a >= kOwnAddressMin && a <= kOwnAddressMax;
}

} // namespace

AddressList ParseAddressList(std::string_view text) {
    AddressList list;
    const auto refuse = [&list](AddressListError error, std::string_view item) {
        list.addresses.clear();
        list.error = error;
        list.item = std::string(Trimmed(item));
        return list;
    };
    if (Trimmed(text).empty())
        return refuse(AddressListError::Empty, {});
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string_view item =
            text.substr(from, comma == std::string_view::npos ? text.npos : comma - from);
        if (Trimmed(item).empty())
            return refuse(AddressListError::EmptyItem, item);
        const std::size_t dash = item.find('-');
        const auto first = Number(item.substr(0, dash));
        const auto last = dash == item.npos ? first : Number(item.substr(dash + 1));
        if (!first || !last)
            return refuse(AddressListError::NotANumber, item);
        if (!InRange(*first) || !InRange(*last))
            return refuse(AddressListError::OutOfRange, item);
        if (*last < *first)
            return refuse(AddressListError::Reversed, item);
        for (int a = *first; a <= *last; ++a) {
            const auto address = static_cast<std::uint8_t>(a);
            if (std::find(list.addresses.begin(), list.addresses.end(), address) ==
                list.addresses.end())
                list.addresses.push_back(address);
        }
        if (comma == text.npos)
            return list;
        from = comma + 1;
    }
}

std::string AddressListText(const std::vector<std::uint8_t>& addresses) {
    std::string text;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            ++j;
        if (!text.empty())
            text += ',';
        text += std::to_string(addresses[i]);
        if (j >= i + 2) {
            text += '-' + std::to_string(addresses[j]);
            i = j + 1;
        } else {
            ++i;
        }
    }
    return text;
}

} // namespace md::meter
