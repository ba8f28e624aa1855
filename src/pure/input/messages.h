// Django REST framework's messages and codes, word for word.
#pragma once

namespace zembra::input::msg {

inline constexpr const char* kRequired = "This field is required.";
inline constexpr const char* kNull = "This field may not be null.";
inline constexpr const char* kBlank = "This field may not be blank.";
inline constexpr const char* kNotString = "Not a valid string.";
inline constexpr const char* kNullCharacters = "Null characters are not allowed.";
inline constexpr const char* kEmail = "Enter a valid email address.";
inline constexpr const char* kUrl = "Enter a valid URL.";
inline constexpr const char* kSlug = "Enter a valid \"slug\" consisting of letters, numbers, underscores or hyphens.";
inline constexpr const char* kUnicodeSlug =
    "Enter a valid \"slug\" consisting of Unicode letters, numbers, underscores, or hyphens.";
inline constexpr const char* kIpBoth = "Enter a valid IPv4 or IPv6 address.";
inline constexpr const char* kIpv4 = "Enter a valid IPv4 address.";
inline constexpr const char* kIpv6 = "Enter a valid IPv6 address.";
inline constexpr const char* kInteger = "A valid integer is required.";
inline constexpr const char* kNumber = "A valid number is required.";
inline constexpr const char* kTooLong = "String value too large.";
inline constexpr const char* kFloatOverflow = "Integer value too large to convert to float";
inline constexpr const char* kBoolean = "Must be a valid boolean.";
inline constexpr const char* kUuid = "Must be a valid UUID.";
inline constexpr const char* kDate = "Date has wrong format. Use one of these formats instead: YYYY-MM-DD.";
inline constexpr const char* kDateGotDateTime = "Expected a date but got a datetime.";
inline constexpr const char* kTime = "Time has wrong format. Use one of these formats instead: hh:mm[:ss[.uuuuuu]].";
inline constexpr const char* kDateTime =
    "Datetime has wrong format. Use one of these formats instead: "
    "YYYY-MM-DDThh:mm[:ss[.uuuuuu]][+HH:MM|-HH:MM|Z].";
inline constexpr const char* kDateTimeGotDate = "Expected a datetime but got a date.";
inline constexpr const char* kDateTimeOverflow = "Datetime value out of range.";
inline constexpr const char* kDuration =
    "Duration has wrong format. Use one of these formats instead: [DD] [HH:[MM:]]ss[.uuuuuu].";
inline constexpr const char* kDurationOverflow = "The number of days must be between -999999999 and 999999999.";
inline constexpr const char* kJson = "Value must be valid JSON.";
inline constexpr const char* kEmptyList = "This list may not be empty.";
inline constexpr const char* kNoData = "No data provided";

}  // namespace zembra::input::msg
