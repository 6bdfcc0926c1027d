#pragma once
// The JSON texts a play channel reads: the source's answers ({"code":N}) and the page's request
// texts it passes on (start, seek). Pure functions; any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The integer "code" of a source text (0 when it has none), or none when the message is not a
// JSON text or does not parse. The text is cut after its last "}" first, so trailing bytes a
// source appends do not spoil it.
std::optional<int> SourceCode(const std::uint8_t* data, std::size_t size);

// What a start request's "data" object gives the channel. A value of the wrong type is absent.
struct StartFields {
  bool hasData = false;            // the text parses and has a "data" object
  std::optional<int> channel;      // "data"."channel" (integer)
  std::optional<std::string> endTime;  // "data"."endTime" (string)
  std::optional<int> speed;        // "data"."speed" (integer)
};
StartFields ReadStartFields(const std::string& requestJson);

// "data"."seekTime" of a seek text as a decimal number (leading blanks and a sign accepted,
// digits up to the first other character), or none when it is not a string.
std::optional<int> SeekTimeOf(const std::string& message);
