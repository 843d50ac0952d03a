#include "app/ManualWriter.h"

namespace wex {

namespace {

// Text safe for roff: backslashes doubled, and no line starting with a dot
// or an apostrophe.
std::string roff(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-') {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\'')) escaped.insert(0, "\\&");
  return escaped;
}

std::string optionName(const CLI::Option& option) {
  std::string name;
  for (const auto& longName : option.get_lnames())
    name += (name.empty() ? "--" : ", --") + longName;
  for (const auto& shortName : option.get_snames())
    name += (name.empty() ? "-" : ", -") + shortName;
  if (name.empty()) return option.get_name();  // a positional
  if (option.get_items_expected_max() > 0 && !option.get_type_name().empty()) {
    name += " " + option.get_type_name();
  }
  return name;
}

std::vector<const CLI::App*> subcommandsOf(const CLI::App& program) {
  return program.get_subcommands([](const CLI::App*) { return true; });
}

void writeOptions(std::string& page, const CLI::App& app) {
  for (const CLI::Option* option : app.get_options([](const CLI::Option*) { return true; })) {
    if (option->get_group().empty()) continue;  // hidden
    page += ".TP\n.B " + roff(optionName(*option)) + "\n" + roff(option->get_description()) + "\n";
  }
}

}  // namespace

std::string ManualWriter::manPage(const CLI::App& program, const std::string& version) {
  std::string page = ".TH WEXMIDI 1 \"\" \"" + roff(version) + "\" \"User Commands\"\n";
  page += ".SH NAME\nwexmidi \\- " +
          roff(program.get_description().substr(program.get_description().find(": ") + 2)) + "\n";
  page +=
      ".SH SYNOPSIS\n.B wexmidi\n[\\-\\-midi embedded|jack|alsa] [\\-\\-name NAME] SUBCOMMAND "
      "[OPTIONS]\n";
  page += ".SH DESCRIPTION\n" + roff(program.get_description()) +
          ". Global options go before or after the subcommand.\n";
  page += ".SH GLOBAL OPTIONS\n";
  writeOptions(page, program);
  for (const CLI::App* subcommand : subcommandsOf(program)) {
    page += ".SH " + roff("wexmidi " + subcommand->get_name()) + "\n" +
            roff(subcommand->get_description()) + "\n";
    writeOptions(page, *subcommand);
  }
  page += ".SH EXIT STATUS\n0 on success, 1 for a failure at run time, 2 for a usage error.\n";
  return page;
}

std::string ManualWriter::bashCompletion(const CLI::App& program) {
  auto optionWords = [](const CLI::App& app) {
    std::string words;
    for (const CLI::Option* option : app.get_options([](const CLI::Option*) { return true; })) {
      if (option->get_group().empty()) continue;
      for (const auto& name : option->get_lnames()) words += " --" + name;
    }
    return words;
  };
  const std::string globalWords = optionWords(program);
  std::string subcommands, alternatives, cases;
  for (const CLI::App* subcommand : subcommandsOf(program)) {
    subcommands += " " + subcommand->get_name();
    alternatives += (alternatives.empty() ? "" : "|") + subcommand->get_name();
    cases += "    " + subcommand->get_name() + ") words=\"" + optionWords(*subcommand) +
             globalWords + "\" ;;\n";
  }
  std::string script = "# bash completion for wexmidi, written from its own parser\n";
  script += "_wexmidi() {\n";
  script +=
      "  local current=\"${COMP_WORDS[COMP_CWORD]}\" previous=\"${COMP_WORDS[COMP_CWORD-1]}\"\n";
  script += "  if [ \"$previous\" = --midi ]; then\n";
  script += "    COMPREPLY=($(compgen -W \"embedded jack alsa\" -- \"$current\")); return\n";
  script += "  fi\n";
  script += "  local subcommand=\"\" word words\n";
  script += "  for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n";
  script += "    case \"$word\" in\n";
  script += "      " + alternatives + ") subcommand=\"$word\"; break ;;\n";
  script += "    esac\n";
  script += "  done\n";
  script += "  case \"$subcommand\" in\n" + cases;
  script += "    *) words=\"" + globalWords + " --version\" ;;\n";
  script += "  esac\n";
  script += "  if [[ \"$current\" == -* ]]; then\n";
  script += "    COMPREPLY=($(compgen -W \"$words --help\" -- \"$current\"))\n";
  script += "  elif [ -z \"$subcommand\" ]; then\n";
  script += "    COMPREPLY=($(compgen -W \"" + subcommands + "\" -- \"$current\"))\n";
  script += "  else\n";
  script += "    COMPREPLY=($(compgen -f -- \"$current\"))\n";
  script += "  fi\n";
  script += "}\n";
  script += "complete -F _wexmidi wexmidi\n";
  return script;
}

}  // namespace wex
