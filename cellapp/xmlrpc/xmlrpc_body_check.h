#pragma once

// The check of an XML-RPC request body before the library parses it: the
// library's parser recurses once per nested value and reads the body as a C
// string, so a body must hold no NUL byte, its tags must pair up and its
// elements may nest only so deep.

#include <cstddef>
#include <string>

// Why the body may not be parsed ("" when it may).
std::string xmlrpc_body_refusal(const std::string& body, std::size_t max_depth);
