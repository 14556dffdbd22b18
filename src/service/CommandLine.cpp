#include "service/CommandLine.hpp"

#include <stdexcept>
#include <utility>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

const std::pair<const char*, TCommand> kWords[] = {
    {"debug", TCommand::Debug},         {"install", TCommand::Install}, {"uninstall", TCommand::Uninstall},
    {"reinstall", TCommand::Reinstall}, {"start", TCommand::Start},     {"stop", TCommand::Stop},
    {"restart", TCommand::Restart},     {"pause", TCommand::Pause},     {"continue", TCommand::Continue},
    {"help", TCommand::Help},           {"?", TCommand::Help},
    {"h", TCommand::Help},
};

struct TOption {
  const char* name;
  std::string TCommandLine::*field;
};
const TOption kOptions[] = {
    {"home", &TCommandLine::home},
    {"systemd-dir", &TCommandLine::systemdDir},
    {"http-port", &TCommandLine::httpPort},
    {"http-bind", &TCommandLine::httpBind},
};

// Splits "-word:value", "/word=value", "--option=value" into name and value.
void SplitSwitch(const std::string& arg, std::string& name, std::string& value, bool& hasValue) {
  size_t start = 0;
  while (start < arg.size() && start < 2 && (arg[start] == '-' || arg[start] == '/')) ++start;
  size_t sep = arg.find_first_of(":=", start);
  name = arg.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
  hasValue = sep != std::string::npos;
  value = hasValue ? arg.substr(sep + 1) : std::string();
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine cl;
  bool haveWord = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name, value;
    bool hasValue;
    SplitSwitch(args[i], name, value, hasValue);
    if (name.empty()) throw std::invalid_argument("empty argument '" + args[i] + "'");

    const TOption* option = nullptr;
    for (const auto& o : kOptions)
      if (SameText(name, o.name)) option = &o;
    if (option) {
      if (!hasValue) {
        if (i + 1 >= args.size()) throw std::invalid_argument("option --" + std::string(option->name) + " needs a value");
        value = args[++i];
      }
      if (value.empty()) throw std::invalid_argument("option --" + std::string(option->name) + " needs a value");
      cl.*(option->field) = value;
      continue;
    }

    TCommand word = TCommand::Run;
    bool known = false;
    for (const auto& [text, command] : kWords)
      if (SameText(name, text)) {
        word = command;
        known = true;
      }
    if (!known) throw std::invalid_argument("unknown command word '" + args[i] + "'");
    if (word == TCommand::Help) {
      cl.command = TCommand::Help;
      return cl;
    }
    if (haveWord) throw std::invalid_argument("more than one command word ('" + args[i] + "')");
    haveWord = true;
    cl.command = word;
    cl.commandValue = value;
  }
  return cl;
}

std::string UsageText() {
  return "Usage: CourioSvc [word] [options]\n"
         "\n"
         "Runs the Courio Plinth Integration service. Words may start with '-' or '/',\n"
         "in any letter case, and may carry a value after ':' or '='.\n"
         "\n"
         "Words:\n"
         "  (none)      run as the service (as started by systemd)\n"
         "  debug       run in the foreground until Ctrl-C (SIGINT) or SIGTERM\n"
         "  install     write the systemd unit CourioService.service and enable it\n"
         "  uninstall   disable and remove the systemd unit\n"
         "  reinstall   uninstall, then install\n"
         "  start | stop | restart | pause | continue\n"
         "              control the installed service through systemctl\n"
         "  help        show this text\n"
         "\n"
         "Options:\n"
         "  --home DIR         home folder (default: $COURIO_HOME, else the executable's folder)\n"
         "  --systemd-dir DIR  where install/uninstall put the unit (default: $COURIO_SYSTEMD_DIR,\n"
         "                     else /etc/systemd/system)\n"
         "  --http-port N      admin console port (default: $COURIO_HTTP_PORT, else 9889; 0: any free port)\n"
         "  --http-bind ADDR   admin console address (default: $COURIO_HTTP_BIND, else all addresses)\n"
         "\n"
         "The admin console (http://HOST:9889/admin) asks for $COURIO_ADMIN_AUTH (user:password).\n";
}

}  // namespace courio
