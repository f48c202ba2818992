#pragma once
#include <string>

namespace diagbridge {

// The event memory section of the T40 upload text from the controller's answer to the event
// request (hex byte string, response code first):
//   [EventMem]|EventAnz=n|EventX=<answer>|Event1= XX ... (9 bytes)|...|Eventn= ...|
//   Addendum1= XX ... (10 bytes)|...
// n is byte 3 of the answer (0 when missing); event k shows bytes 2 + 10 (k - 1) onwards,
// zeros where the answer ends; the addenda follow the events as far as whole ones remain.
std::string T40EventSectionText(const std::string& response);

}  // namespace diagbridge
