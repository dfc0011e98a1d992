// What the client fixes about the quorvex virtual HID device and its driver.
#pragma once

#include <cstdint>

constexpr uint16_t QUORVEX_VENDOR_ID = 0x001F;
constexpr uint16_t QUORVEX_PRODUCT_ID = 0xBA1C;
constexpr uint16_t QUORVEX_USAGE_PAGE = 0xFF00;
constexpr uint16_t QUORVEX_USAGE_CONTROL = 0x0001;
constexpr uint16_t QUORVEX_USAGE_MESSAGE = 0x0002;

// Every report travels in one output report of the control collection.
constexpr uint8_t QUORVEX_CONTROL_REPORT_ID = 0x40;
constexpr int QUORVEX_CONTROL_REPORT_SIZE = 65;
constexpr int QUORVEX_CONTROL_HEADER_SIZE = 2;

// Inner report IDs; the front end's modes are the same numbers.
constexpr uint8_t QUORVEX_REPORT_MULTITOUCH = 0x01;
constexpr uint8_t QUORVEX_REPORT_MOUSE = 0x03;
constexpr uint8_t QUORVEX_REPORT_DIGITIZER = 0x05;
constexpr uint8_t QUORVEX_REPORT_JOYSTICK = 0x06;
constexpr uint8_t QUORVEX_REPORT_KEYBOARD = 0x07;
constexpr uint8_t QUORVEX_REPORT_MESSAGE = 0x10;

// Input reports of the message collection, report ID byte included.
constexpr int QUORVEX_MESSAGE_REPORT_SIZE = 33;
constexpr unsigned QUORVEX_MESSAGE_INPUT_BUFFERS = 10;
