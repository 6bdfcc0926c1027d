#pragma once
// RapidJSON helpers shared by the command parser, the replies and the settings file.
#include <string>

#include <rapidjson/document.h>

// Nesting deeper than this is refused before parsing: the library's reader and writer recurse
// once per level, and a message of a megabyte of brackets must not exhaust the stack.
constexpr int kMaxJsonDepth = 64;

// Parses the whole text as one JSON document with the library's default flags (exactly one root
// value, no comments). False when the text does not parse or nests deeper than kMaxJsonDepth.
bool ParseJsonText(const std::string& text, rapidjson::Document& document);

// The value written back as compact text: no whitespace outside strings, members in stored order.
std::string WriteCompactJson(const rapidjson::Value& value);
