// A model as lines of text, for the client's tool and tests: "model CLASS type=N id=ID", then
// "field NAME VALUE" per field in declaration order. URLs as given (always absolute), colours
// "r,g,b,a" with three decimals, "nil" when absent, lists joined by ",", BOOLs YES or NO; nested
// fields as "texts[0].headerText", "requestParameters.retry", "action.type"; texts escaped as
// \\ \n \r \t.
#pragma once

#include <string>
#include <vector>

namespace orbad {

class OrbadAd;

std::vector<std::string> describeAd(const OrbadAd& ad);

}  // namespace orbad
