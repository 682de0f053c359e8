#include "service/CommandLine.h"

namespace service {

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    bool checkOnce = false;
    bool install = false;
    bool uninstall = false;
    // Commands of their own, for people: what was removed, and held rules.
    if (!arguments.isEmpty()
        && (arguments[0] == QLatin1String("--removed")
            || arguments[0] == QLatin1String("--release-held")
            || arguments[0] == QLatin1String("--removed-save"))) {
        const bool save = arguments[0] == QLatin1String("--removed-save");
        if (arguments.size() != (save ? 3 : 1)) {
            line.mode = Mode::Invalid;
            line.problem = save ? QStringLiteral("--removed-save takes an ID and a FILE")
                                : QStringLiteral("%1 takes no more arguments").arg(arguments[0]);
        } else if (save) {
            line.mode = Mode::SaveRemoved;
            line.copyId = arguments[1];
            line.saveFile = arguments[2];
        } else {
            line.mode =
                arguments[0] == QLatin1String("--removed") ? Mode::ListRemoved : Mode::ReleaseHeld;
        }
        return line;
    }
    for (const QString &argument : arguments) {
        const QString lower = argument.toLower();
        if (argument == QLatin1String("--check-once")) {
            checkOnce = true;
        } else if (argument == QLatin1String("--dry-run")) {
            line.dryRun = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.mode = Mode::Help;
            return line;
        } else if (lower == QLatin1String("/install") || lower == QLatin1String("--install")) {
            install = true;
        } else if (lower == QLatin1String("/uninstall") || lower == QLatin1String("--uninstall")) {
            uninstall = true;
        } else if (lower == QLatin1String("/silent") || lower == QLatin1String("--silent")) {
            line.silent = true;
        } else {
            line.mode = Mode::Invalid;
            line.problem = QStringLiteral("unknown argument: %1").arg(argument);
            return line;
        }
    }
    if (int(checkOnce) + int(install) + int(uninstall) > 1) {
        line.mode = Mode::Invalid;
        line.problem = QStringLiteral("choose one of --check-once, /install and /uninstall");
    } else if (line.dryRun && !checkOnce) {
        line.mode = Mode::Invalid;
        line.problem = QStringLiteral("--dry-run goes with --check-once");
    } else if (line.silent && !install && !uninstall) {
        line.mode = Mode::Invalid;
        line.problem = QStringLiteral("/silent goes with /install or /uninstall");
    } else if (checkOnce) {
        line.mode = Mode::CheckOnce;
    } else if (install) {
        line.mode = Mode::Install;
    } else if (uninstall) {
        line.mode = Mode::Uninstall;
    }
    return line;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: OstroveService [--check-once [--dry-run]] [/install|/uninstall [/silent]]\n"
        "       OstroveService --removed | --removed-save ID FILE | --release-held\n"
        "\n"
        "Checks the POP3 mailboxes of the accounts set up in Ostrove Configuration and removes\n"
        "the mail that its filter lists describe.\n"
        "\n"
        "  (no arguments)         run as the service: check now, then every ScanEvery minutes\n"
        "  --check-once           one check in the foreground; the log lines also go to\n"
        "                         standard output\n"
        "  --dry-run              with --check-once: judge and log what would be removed,\n"
        "                         remove nothing\n"
        "  /install [/silent]     install and enable the systemd service OstroveSvc\n"
        "  /uninstall [/silent]   stop, disable and remove it\n"
        "  --removed              list the removed messages whose copies are kept\n"
        "  --removed-save ID FILE write the kept copy ID to FILE (.eml, for any mail program)\n"
        "  --release-held         let the rules whose removals were held (each would have\n"
        "                         removed more than half of a mailbox) remove at the next check\n"
        "  --help                 this text\n"
        "\n"
        "Settings: the file named by OSTROVE_REGISTRY, else /var/lib/ostrove/registry.db for\n"
        "root and $XDG_CONFIG_HOME/ostrove/registry.db (~/.config/ostrove/) for anyone else.\n"
        "The log (Ostrove.log), the record of judged messages (monitor-state.db), the record\n"
        "of removed mail (removed.log) and its copies (removed/) are kept in the same folder.\n"
        "\n"
        "Exit status: 0 when every account was checked, 1 when any failed or the settings\n"
        "cannot be read, 2 on bad arguments.\n");
}

} // namespace service
