#!/usr/bin/env python3
"""Seeded faults: applies small faults to the product code one at a time, builds, runs the test suite and
reports whether the suite caught each (it must fail). A fault no test catches is a missing test.

Usage: scripts/seeded-faults.py [--check] [--only N[,N...]] [--build DIR] [-- ctest arguments]
  --check   only verifies that every fault's text is found exactly once (no build, no test)
  --only    runs the faults of those numbers (1-based)
  --build   the build folder (default build-faults/, configured like scripts/build.sh)
The source files are always restored, also on Ctrl-C.
"""
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (file, text, faulty text, what it breaks): in every folder of the product.
FAULTS = [
    # platform/
    ("platform/posix/socket.cpp", "const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);",
     "const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_CLOEXEC : 0);", "accepted sockets stay blocking"),
    ("platform/posix/local_channel.cpp", "if (peer.uid == 0 || peer.uid == geteuid())",
     "if (peer.uid == 0 || peer.uid != geteuid())", "the channel's caller check"),
    ("platform/posix/identity.cpp", "    if (geteuid() == 0)\n        return true;",
     "    if (geteuid() == 0)\n        return false;", "root is not a printer administrator"),
    # text/
    ("text/text_util.cpp", "return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;",
     "return (c >= u'A' && c < u'Z') ? static_cast<char16_t>(c + 32) : c;", "lower case misses Z"),
    ("text/utf8.cpp", "    if (c < 0x80) {", "    if (c <= 0x80) {", "UTF-8: 0x80 encoded as one byte"),
    # resources/
    ("resources/string_table.cpp", 'CStringEntry{IDS_STATE_HELD, u"Held", u"Suspendu", u"保留中"}',
     'CStringEntry{IDS_STATE_HELD, u"Hold", u"Suspendu", u"保留中"}', "a wrong state text"),
    ("resources/dialog_strings.cpp", 'u"Not an address or a network: %s"', 'u"Not an address or network: %s"',
     "a wrong message text"),
    # core/
    ("core/allowed_clients.cpp", "    return number <= maximum;", "    return number < maximum;",
     "255 and /32 refused"),
    ("core/allowed_clients.cpp", "range->Mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);",
     "range->Mask = bits == 0 ? 0 : ~uint32_t{0} << (31 - bits);", "network masks one bit short"),
    ("core/settings.cpp", 'PortLPD = file.GetInt(SECTION, u"PortLPD", 515);',
     'PortLPD = file.GetInt(SECTION, u"PortLPD", 1515);', "a wrong default port"),
    ("core/settings.cpp", "    if (AllowedClientsText == text)\n        return;",
     "    if (AllowedClientsText != text)\n        return;", "a changed client list is never taken"),
    ("core/profile_file.cpp", "    if (!FindValue(ProfilePath, section, key, &value) || value.empty())",
     "    if (!FindValue(ProfilePath, section, key, &value))", "an empty value is not the default"),
    # config/
    ("config/printer_setting.cpp", 'return value.find_first_of(u";\\r\\n") == std::u16string::npos;',
     'return value.find_first_of(u";\\r") == std::u16string::npos;', "LF accepted in Printer.cfg values"),
    ("config/printer_list.h", "*hold = record.HoldJobs == 1;", "*hold = record.HoldJobs != 1;",
     "holding printers print, the others hold"),
    ("config/printer_config.cpp", "        return false;\n    }\n    return true;\n}",
     "        return true;\n    }\n    return true;\n}", "a failed save of Printer.cfg reported as done"),
    # spool/
    ("spool/job_journal.cpp", "if (ReadInteger(bytes, at + checked, 4) != Checksum(bytes.substr(at, checked)))",
     "if (false)", "damaged journal entries read"),
    ("spool/job_journal.cpp", "    if (durable && dataFile && !embedded && dataFile->Flush())\n        return false;",
     "", "large jobs' data never flushed, failures ignored"),
    ("spool/job_journal.cpp", "        if (!held.DataEntry.empty() && held.DataEntry != held.Bytes)\n            content += held.DataEntry;\n",
     "", "a fold drops the data of prepared jobs"),
    ("spool/job_recovery.cpp", "        if (received && entry.HasData)\n            RestoreData(entry);",
     "        if (received && entry.HasData && false)\n            RestoreData(entry);",
     "a lost small job's data not restored"),
    ("spool/job_store.cpp", "                case JOB_HOLD:\n                    job->SetHeld();",
     "                case JOB_HOLD:\n                    job->SetReady();", "hold makes a job Ready"),
    ("spool/job_list_file.cpp", "    Journal.MakeDataDurable(listed);\n", "", "no flush of data before the list"),
    ("spool/control_file.cpp", "            case 'P':\n                job.Owner", "            case 'L':\n                job.Owner",
     "the owner read from the wrong line"),
    ("spool/pcl_scanner.cpp", "} else if (TermChar == 'H' || TermChar == 'h') {", "} else if (TermChar == 'H') {",
     "a lower-case paper source missed"),
    ("spool/spool_file.cpp", "    SetState(STATE_HELD);", "    SetState(STATE_SAVED);", "held jobs shown Saved"),
    ("spool/payload.cpp", 'return ReplaceAll(path, u".tmp", u".pdf");', 'return ReplaceAll(path, u".tmp", u".pfd");',
     "PDF jobs get a wrong name"),
    # net/
    ("net/lpd_connection.cpp", "    return connection->Position < connection->Length;",
     "    return connection->Position <= connection->Length;", "bytes seen where none are left"),
    ("net/lpd_connection.cpp", "    return SendByte(connection, failed ? 0x01 : 0x00);",
     "    (void)failed;\n    return SendByte(connection, 0x00);", "a failure acknowledged as success"),
    ("net/lpd_session.cpp", "const bool untilClose = count == 0 || count >= DATA_LENGTH_UNKNOWN;",
     "const bool untilClose = count == 0 || count > DATA_LENGTH_UNKNOWN;", "twelve nines read as a length"),
    ("net/lpd_session.cpp", "    if (!failed && !RecordIfComplete())\n        failed = true;\n    if (failed)\n        Continue = false;\n    if (SendAck",
     "    if (failed)\n        Continue = false;\n    if (SendAck", "the control file's ack before the job is recorded"),
    ("net/lpd_front.cpp", "            if (Gate.Admits(peer))\n", "            if (Gate.Admits(peer) || true)\n",
     "clients outside the list served"),
    ("net/lpd_front.cpp", "        if (now - waiting->SilentSince < limit)", "        if (now - waiting->SilentSince < limit * 100)",
     "a silent connection held for ever"),
    ("net/client_gate.cpp", "    if (first || now - found->second.LineAt >= REFUSAL_LOG_PERIOD) {",
     "    if (true) {", "every refusal logged"),
    ("net/lpd_greeting.cpp", "    greeting->Exists = printers.FindVirtualPrinter(greeting->Queue, &greeting->Hold);",
     "    greeting->Exists = printers.FindVirtualPrinter(greeting->Queue, &greeting->Hold) || true;",
     "unknown queues accepted"),
    # output/
    ("output/lpd_client.cpp", "if (!exchange.Step(CommandLine('\\x02', queue), \"The print request is rejected\"))",
     "if (!exchange.Step(CommandLine('\\x03', queue), \"The print request is rejected\"))",
     "forwarding sends the wrong command"),
    ("output/program_printer.cpp", "ReplaceAll(&commandLine, COMMAND_MARKERS[i], u\"\\\"\" + values[i] + u\"\\\"\");",
     "ReplaceAll(&commandLine, COMMAND_MARKERS[i], values[i]);", "program arguments unquoted"),
    ("output/program_printer.cpp", "    if (Settings.KillProcessIfNeed == 0)", "    if (Settings.KillProcessIfNeed != 0)",
     "KillProcessIfNeed inverted"),
    # admin/
    ("admin/job_commands.cpp", "            return state == STATE_HELD || state == STATE_SAVED || state == STATE_ERROR;",
     "            return state == STATE_HELD || state == STATE_SAVED;", "an Error job cannot be released"),
    ("admin/setting_commands.cpp", '{u"PortLPD", &CSettings::PortLPD, 1, 65535},',
     '{u"PortLPD", &CSettings::PortLPD, 0, 65535},', "port 0 accepted"),
    ("admin/printer_commands.cpp", "    if (FindPrinter(printers, name))\n        return LoadString(IDS_PRINTER_EXISTS);",
     "    if (FindPrinter(printers, name) && false)\n        return LoadString(IDS_PRINTER_EXISTS);",
     "duplicate printer names accepted"),
    # app/
    ("app/server.cpp", "    AdminChannel.Start(BaseFolder);\n", "", "no channel while the server runs"),
    ("app/admin_channel.cpp", "    if (!arguments.empty() && IsChangingCommand(arguments[0])) {",
     "    if (false) {", "administration changes not logged"),
    ("app/start_up.cpp", "    Desktop->ShowMainWindow(Settings.AutoHide == 1);",
     "    Desktop->ShowMainWindow(Settings.AutoHide == 0);", "AutoHide inverted"),
    # ui/
    ("ui/dialog_preferences.cpp", "    if (port <= 0 || port > 65535) {", "    if (port < 0 || port > 65535) {",
     "port 0 accepted by the dialog"),
    ("ui/job_list_view.cpp", "            return SelectedState == STATE_READY || SelectedState == STATE_PRINTING;",
     "            return SelectedState == STATE_READY;", "a printing job cannot be stopped"),
    # tools/
    ("tools/velmora_lpr.cpp", "value < 1 || value > 65535)", "value < 1 || value > 6553)",
     "velmora-lpr refuses high ports"),
    ("tools/velmora_admin.cpp", "    if (!platform::IsPrinterAdministrator())", "    if (platform::IsPrinterAdministrator())",
     "the tool refuses administrators"),
    # Added later; the numbers above stay as they were.
    ("spool/job_list_file.cpp", "        JobListSaver.RequestSave();\n", "", "a failed save of the list never tried again"),
]


# A line of ctest's closing list of failed tests: "  12 - Suite.Name (Failed)".
FAILED_TEST = re.compile(r"^\s*\d+ - (\S+) \(", re.MULTILINE)


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def write(path, text):
    with open(os.path.join(ROOT, path), "w", encoding="utf-8") as f:
        f.write(text)


def check():
    bad = 0
    for number, (path, text, _, what) in enumerate(FAULTS, 1):
        count = read(path).count(text)
        if count != 1:
            print(f"{number:3} {path}: found {count} times: {what}")
            bad += 1
    folders = sorted({path.split("/")[0] for path, _, _, _ in FAULTS})
    print(f"{len(FAULTS)} faults in {', '.join(folders)}; {bad} not found exactly once")
    return bad == 0


def run(build, numbers, ctest_arguments):
    # Built as the README's test command builds: warnings are errors.
    subprocess.run([os.path.join(ROOT, "scripts/build.sh")], check=True,
                   env=dict(os.environ, VELMORA_BUILD_DIR=build, VELMORA_WERROR="ON"),
                   stdout=subprocess.DEVNULL)
    missed = []
    for number in numbers:
        path, text, faulty, what = FAULTS[number - 1]
        original = read(path)
        start = time.time()
        try:
            write(path, original.replace(text, faulty, 1))
            built = subprocess.run(["cmake", "--build", build], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL).returncode == 0
            if not built:
                outcome = "does not build (mend the fault)"
                missed.append(number)
            else:
                tested = subprocess.run(["ctest", "-j", str(os.cpu_count() or 2), "--timeout", "180"]
                                        + ctest_arguments, cwd=build, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
                outcome = "caught" if tested.returncode != 0 else "MISSED"
                if tested.returncode == 0:
                    missed.append(number)
                else:
                    catchers = FAILED_TEST.findall(tested.stdout.split("tests FAILED:")[-1])
                    what += "  [" + ", ".join(catchers[:3]) + "]"
        finally:
            write(path, original)
        print(f"{number:3} {outcome:8} {time.time() - start:5.0f} s  {path}: {what}", flush=True)
    subprocess.run(["cmake", "--build", build], stdout=subprocess.DEVNULL)
    print(f"{len(numbers) - len(missed)} of {len(numbers)} faults caught" +
          (f"; missed: {', '.join(map(str, missed))}" if missed else ""))
    return not missed


def main(arguments):
    ctest_arguments = []
    if "--" in arguments:
        ctest_arguments = arguments[arguments.index("--") + 1:]
        arguments = arguments[:arguments.index("--")]
    if "--check" in arguments:
        return 0 if check() else 1
    if not check():
        return 1
    build = os.path.join(ROOT, "build-faults")
    numbers = list(range(1, len(FAULTS) + 1))
    for i, argument in enumerate(arguments):
        if argument == "--build":
            build = os.path.abspath(arguments[i + 1])
        elif argument == "--only":
            numbers = [int(n) for n in arguments[i + 1].split(",")]
    return 0 if run(build, numbers, ctest_arguments) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
