#pragma once
// The texts of the delivery reports a transport posts when a sent message is, or is not,
// confirmed by its recipient.
#include <ctime>
#include <string>

// "to <recipients> at <h:mm:ss AM> (\"<excerpt>\")", the send time in local time.
std::string FormatSentDescription(const std::string& recipients, std::time_t sendTime,
                                  const std::string& text);
// The report built around a description.
std::string FormatDeliveryReport(bool confirmed, const std::string& description);
// The first words of a message, at most 25 characters, shortened with "...".
std::string MessageExcerpt(const std::string& text);
// Local time as "3:07:45 PM" (hour without leading zero).
std::string FormatClockTime(std::time_t when);
