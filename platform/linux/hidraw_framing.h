// Pure helpers of the hidraw bus: the HID_ID property and report framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace k2t::linux_platform {

// Parses udev's HID_ID ("BBBB:VVVVVVVV:PPPPPPPP", hexadecimal); false when
// the text is not of that form.
bool ParseHidId(std::string_view hid_id, std::uint16_t& vendor, std::uint16_t& product);

// hidraw delivers the reports of a device without numbered reports without
// the report-id byte: the module's 8-byte layout has it in byte 0 (always 0).
// Copies up to 7 data bytes after a 0 and zero-fills the rest.
void FrameInputReport(const std::uint8_t* data, std::size_t size, std::uint8_t (&report)[8]);

}  // namespace k2t::linux_platform
