#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace wex {

class QCPlugInViewController;

// Chooses MIDI endpoints by name, as the user names them on the command line:
// an exact name first, then a case-insensitive part of one name.
class EndpointChooser {
 public:
  // The rows of `names` that `wanted` stands for: every row named exactly so,
  // or else the one row whose name contains it, ignoring case. Empty, with
  // the reason (naming the candidates when several match), otherwise.
  // `kind` names the endpoints in messages ("source", "destination").
  static std::vector<size_t> match(const std::vector<std::string>& names, const std::string& wanted,
                                   const std::string& kind, std::string* reason);

  // The endpoints an endpoint panel (a receiver's or a sender's) lists, in
  // its order; empty when the panel lists none.
  static std::vector<std::string> names(QCPlugInViewController& panel);

  // Through an endpoint panel (a receiver's or a sender's): ticks the rows
  // the wanted names stand for and unticks every other; with no names, ticks
  // every row. `chosen` receives the names ticked. False, with the reason,
  // when a name matches no row or several.
  static bool choose(QCPlugInViewController& panel, const std::vector<std::string>& wanted,
                     const std::string& kind, std::vector<std::string>* chosen,
                     std::string* reason);
};

}  // namespace wex
