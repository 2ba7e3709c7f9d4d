#!/usr/bin/env python3
"""Writes the manual page and the bash completion of kzb from the program's own help.

    kzb_docs.py KZB MANPAGE COMPLETION

The help is the one source: `kzb --help` gives the description, the global options, the commands and
the exit statuses; `kzb COMMAND --help` gives each command's arguments and options. The manual page
keeps the help's text (in no-fill blocks, so its own line breaks and tables stay); the completion offers
the commands, then the options of the command typed, and file names everywhere else.
"""
import re
import subprocess
import sys

OPTION = re.compile(r"^\s+((?:-\w,)?--[\w-]+)")


def run_help(kzb, *args):
    return subprocess.run([kzb, *args, "--help"], check=True, capture_output=True, text=True).stdout


def commands(main_help):
    names = []
    in_list = False
    for line in main_help.splitlines():
        if line.startswith("Subcommands:"):
            in_list = True
            continue
        if in_list:
            match = re.match(r"^  (\S+)\s", line)
            if not match:
                break
            names.append(match.group(1))
    return names


def options(help_text):
    found = []
    for line in help_text.splitlines():
        match = OPTION.match(line)
        if match:
            found.extend(match.group(1).split(","))
    return found


def roff(text):
    lines = []
    for line in text.rstrip("\n").splitlines():
        line = line.replace("\\", "\\e")
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return "\n".join(lines)


def manpage(kzb, main_help, names):
    version = subprocess.run([kzb, "--version"], capture_output=True, text=True).stdout.strip().split()[-1]
    head, _, rest = main_help.partition("\n")
    body, _, tail = rest.lstrip("\n").partition("Exit status:\n")
    statuses, _, environment = tail.partition("Environment:\n")
    out = [
        '.TH KZB 1 "" "kzb %s" "User Commands"' % version,
        ".SH NAME",
        "kzb \\- " + roff(head.split(" - ", 1)[-1]) + " of Kestrova ZIP Backup",
        ".SH SYNOPSIS",
        ".B kzb",
        "[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]",
        ".SH DESCRIPTION",
        "Kestrova ZIP Backup keeps named backup projects; each run writes one new ZIP archive. "
        "\\fBkzb\\fR runs the projects, their schedules and restores without the window "
        "(\\fBkestrova-zip-backup\\fR), and reads and writes ZIP archives directly.",
        ".PP",
        ".nf",
        roff(body),
        ".fi",
        ".SH EXIT STATUS",
        ".nf",
        roff(statuses),
        ".fi",
        ".SH ENVIRONMENT",
        ".nf",
        roff(environment),
        ".fi",
        ".SH COMMANDS",
    ]
    for name in names:
        out += [".SS " + name, ".nf", roff(run_help(kzb, name)), ".fi"]
    out += [
        ".SH FILES",
        ".TP",
        "\\fIproject.ini\\fR, \\fIlog.txt\\fR, \\fIStoreNumber.txt\\fR",
        "in the data folder: the program's folder when writable, else \\fI~/.config/kestrova-zip-backup/\\fR.",
        ".TP",
        "\\fI~/.config/autostart/kestrova-zip-backup.desktop\\fR",
        "the entry that starts the window with the desktop session (\\fBkzb settings --start-with-system\\fR).",
        ".TP",
        "\\fI/usr/lib/systemd/user/kzb-schedule.service\\fR",
        "runs \\fBkzb schedule\\fR as a user service: \\fBsystemctl --user enable --now kzb-schedule\\fR.",
        ".SH SEE ALSO",
        "\\fBkestrova-zip-backup\\fR(1), \\fBsystemctl\\fR(1), \\fBjournalctl\\fR(1)",
    ]
    return "\n".join(out) + "\n"


def completion(main_help, per_command):
    cases = []
    for name, opts in per_command.items():
        cases.append('    %s) opts="%s" ;;' % (name, " ".join(opts)))
    return """# bash completion for kzb (generated from its help)
_kzb() {
  local cur prev word command=""
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case " %(commands)s " in *" $word "*) command=$word; break ;; esac
  done
  case "$prev" in
    --data-dir|--dest|--relative-to) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --password-file) COMPREPLY=($(compgen -f -- "$cur")); return ;;
  esac
  local opts="%(global)s"
  case "$command" in
%(cases)s
  esac
  if [[ -z "$command" && "$cur" != -* ]]; then
    COMPREPLY=($(compgen -W "%(commands)s" -- "$cur"))
  elif [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _kzb kzb
""" % {
        "commands": " ".join(per_command),
        "global": " ".join(options(main_help)),
        "cases": "\n".join(cases),
    }


def main():
    kzb, man_path, completion_path = sys.argv[1:4]
    main_help = run_help(kzb)
    names = commands(main_help)
    per_command = {name: options(run_help(kzb, name)) for name in names}
    with open(man_path, "w", encoding="utf-8") as f:
        f.write(manpage(kzb, main_help, names))
    with open(completion_path, "w", encoding="utf-8") as f:
        f.write(completion(main_help, per_command))


if __name__ == "__main__":
    main()
