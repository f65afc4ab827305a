#pragma once
// The meters of a bus as the operator types them: "1,3,5-8". Every item is an address or a
// range of addresses, each from 1 to 247 (0 is the broadcast address, which no meter answers,
// and 248 and above are reserved).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace md::meter {

enum class AddressListError {
    None,
    Empty,      // nothing but blanks
    EmptyItem,  // "1,,2", "1," or ",1"
    NotANumber, // "a", "3-", "1-2-3"
    OutOfRange, // 0, 248 and above
    Reversed,   // "5-3"
};

struct AddressList {
    // In the order given; an address listed twice is kept where it first came.
    std::vector<std::uint8_t> addresses;
    AddressListError error = AddressListError::None;
    std::string item; // the item refused, as typed (blanks trimmed)
};

AddressList ParseAddressList(std::string_view text);

// "1,3,5-8": runs of three or more consecutive addresses as a range.
std::string AddressListText(const std::vector<std::uint8_t>& addresses);

} // namespace md::meter
