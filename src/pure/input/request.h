// Reading a request body against a plan: the body's checks, then every
// field's, in plan order.
#pragma once

#include "pure/input/json_document.h"
#include "pure/input/plan.h"
#include "pure/input/result.h"

namespace zembra::input {

struct ReadOptions {
  bool partial = false;         // missing fields are never required
  bool reject_unknown = false;  // keys outside the plan are reported
};

// doc holds the parsed body. false only when the host failed.
bool read_request(const Plan& plan, const Document& doc, const ReadOptions& options, Host& host, RequestResult& out);

// The body could not be parsed: detail is the parser's message.
void refuse_unparsable(std::string_view detail, RequestResult& out);

}  // namespace zembra::input
