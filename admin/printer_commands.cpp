// The virtual printers from the command line: a table to read or one printer a line for programs, and
// additions, changes and removals with the checks of the configuration dialog.
#include <algorithm>

#include "admin/admin_commands.h"
#include "resources/admin_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr const char16_t* ROUTE_NAMES[] = {u"raw", u"program", u"lpd"};

// The text fields by their names on the command line, after name, route and hold.
struct CTextField {
    const char16_t* Name;
    std::u16string CPrinterSetting::*Value;
};

constexpr CTextField TEXT_FIELDS[] = {
    {u"local-printer", &CPrinterSetting::LocalPrinter},
    {u"program", &CPrinterSetting::ProgramCommand},
    {u"program-printer", &CPrinterSetting::ProgramPrinter},
    {u"host", &CPrinterSetting::IPAddress},
    {u"queue", &CPrinterSetting::QueueName},
    {u"input-bin", &CPrinterSetting::InputBin},
    {u"output-bin", &CPrinterSetting::OutputBin},
    {u"status-port", &CPrinterSetting::StatusPort},
};

std::u16string RouteName(int32_t mode) {
    return mode >= 0 && mode < 3 ? ROUTE_NAMES[mode] : Format(u"%d", mode);
}

std::u16string Destination(const CPrinterSetting& printer) {
    switch (printer.OutputMode) {
        case OUTPUT_PROGRAM:
            return printer.ProgramCommand +
                   (printer.ProgramPrinter.empty()
                        ? u""
                        : u"  " + Format(LoadString(IDS_ADMIN_PROGRAM_PRINTER), printer.ProgramPrinter));
        case OUTPUT_LPD:
            return Format(LoadString(IDS_ADMIN_FORWARD_TO), printer.IPAddress, printer.QueueName);
        default:
            return printer.LocalPrinter.find_first_not_of(u' ') == std::u16string::npos
                       ? LoadString(IDS_ADMIN_NO_LOCAL_PRINTER)
                       : printer.LocalPrinter;
    }
}

const CPrinterSetting* FindPrinter(const PrinterRecords& printers, const std::u16string& name) {
    const auto found = std::find_if(printers.begin(), printers.end(),
                                    [&name](const CPrinterSetting& printer) { return printer.Name == name; });
    return found == printers.end() ? nullptr : &*found;
}

// The checks of a new name: not blank, storable, not taken. Empty when it passes.
std::u16string RefusedName(const PrinterRecords& printers, const std::u16string& name) {
    if (name.empty())
        return LoadString(IDS_PRINTER_NAME_BLANK);
    if (!IsStorableValue(name))
        return Format(LoadString(IDS_ADMIN_NOT_STORABLE), u"name");
    if (FindPrinter(printers, name))
        return LoadString(IDS_PRINTER_EXISTS);
    return {};
}

// Applies "--field=value" options to the printer; the result is an error, or nothing (exit code 0).
CAdminResult ApplyFields(const CAdminArguments& options, const PrinterRecords& others,
                         CPrinterSetting* printer) {
    for (const std::u16string& option : options) {
        std::u16string field;
        std::u16string value;
        if (!SplitOption(option, &field, &value))
            return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), option));
        const auto bad = [&] {
            return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_BAD_VALUE), value, field));
        };
        const auto text = std::find_if(std::begin(TEXT_FIELDS), std::end(TEXT_FIELDS),
                                       [&field](const CTextField& known) { return field == known.Name; });
        if (field == u"name") {
            if (const std::u16string refused = RefusedName(others, value); !refused.empty())
                return AdminError(ADMIN_REFUSED, refused);
            printer->Name = value;
        } else if (field == u"route") {
            const auto route = std::find_if(std::begin(ROUTE_NAMES), std::end(ROUTE_NAMES),
                                            [&value](const char16_t* name) { return value == name; });
            if (route == std::end(ROUTE_NAMES))
                return bad();
            printer->OutputMode = static_cast<int32_t>(route - std::begin(ROUTE_NAMES));
        } else if (field == u"hold") {
            if (value != u"0" && value != u"1")
                return bad();
            printer->HoldJobs = value == u"1" ? 1 : 0;
        } else if (text != std::end(TEXT_FIELDS)) {
            if (!IsStorableValue(value))
                return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_NOT_STORABLE), field));
            printer->*text->Value = value;
        } else {
            return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), option));
        }
    }
    return {};
}

// Writes the printers to Printer.cfg and, once there, publishes them.
CAdminResult Publish(PrinterRecords printers, CAdminParts& parts) {
    CPrinterList next;
    next.Replace(printers);
    if (!parts.PrinterConfig.SavePrinterConfig(next))
        return AdminError(ADMIN_FAILED, Format(LoadString(IDS_ADMIN_UNWRITABLE), parts.PrinterConfig.Path()));
    parts.PrinterList.Replace(std::move(printers));
    return {};
}

}  // namespace

CAdminResult ListPrinters(const CAdminArguments& arguments, CAdminParts& parts) {
    const bool machine = arguments.size() == 1 && arguments[0] == u"--machine";
    if (!arguments.empty() && !machine)
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), arguments[0]));
    const std::shared_ptr<const PrinterRecords> printers = parts.PrinterList.Snapshot();
    CAdminResult result;
    if (machine) {
        for (const CPrinterSetting& printer : *printers) {
            result.Output += MachineText(printer.Name) + u"\t" + RouteName(printer.OutputMode) + u"\t" +
                             Format(u"%d", printer.HoldJobs);
            for (const CTextField& field : TEXT_FIELDS)
                result.Output += u"\t" + MachineText(printer.*field.Value);
            result.Output += u"\n";
        }
        return result;
    }
    std::vector<std::vector<std::u16string>> rows = {
        {LoadString(IDS_ADMIN_COLUMN_NAME), LoadString(IDS_ADMIN_COLUMN_ROUTE),
         LoadString(IDS_ADMIN_COLUMN_HOLD), LoadString(IDS_ADMIN_COLUMN_DESTINATION)}};
    for (const CPrinterSetting& printer : *printers) {
        rows.push_back({printer.Name, RouteName(printer.OutputMode),
                        LoadString(printer.HoldJobs == 1 ? IDS_ADMIN_YES : IDS_ADMIN_NO),
                        Destination(printer)});
    }
    result.Output = Table(rows);
    return result;
}

CAdminResult AddPrinter(const CAdminArguments& arguments, CAdminParts& parts) {
    if (arguments.empty() || arguments[0].starts_with(u"--"))
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    PrinterRecords printers = *parts.PrinterList.Snapshot();
    if (const std::u16string refused = RefusedName(printers, arguments[0]); !refused.empty())
        return AdminError(ADMIN_REFUSED, refused);
    CPrinterSetting printer;
    printer.Name = arguments[0];
    CAdminResult applied =
        ApplyFields(CAdminArguments(arguments.begin() + 1, arguments.end()), printers, &printer);
    if (applied.ExitCode != ADMIN_DONE)
        return applied;
    printers.push_back(std::move(printer));
    return Publish(std::move(printers), parts);
}

CAdminResult ChangePrinter(const CAdminArguments& arguments, CAdminParts& parts) {
    if (arguments.size() < 2 || arguments[0].starts_with(u"--"))
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    PrinterRecords printers = *parts.PrinterList.Snapshot();
    const auto found = std::find_if(printers.begin(), printers.end(), [&](const CPrinterSetting& printer) {
        return printer.Name == arguments[0];
    });
    if (found == printers.end())
        return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_NO_PRINTER), arguments[0]));
    PrinterRecords others;
    for (auto it = printers.begin(); it != printers.end(); ++it) {
        if (it != found)
            others.push_back(*it);
    }
    CAdminResult applied =
        ApplyFields(CAdminArguments(arguments.begin() + 1, arguments.end()), others, &*found);
    if (applied.ExitCode != ADMIN_DONE)
        return applied;
    return Publish(std::move(printers), parts);
}

CAdminResult RemovePrinter(const CAdminArguments& arguments, CAdminParts& parts) {
    if (arguments.empty())
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    if (arguments.size() > 1)
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), arguments[1]));
    PrinterRecords printers = *parts.PrinterList.Snapshot();
    const auto before = printers.size();
    std::erase_if(printers, [&](const CPrinterSetting& printer) { return printer.Name == arguments[0]; });
    if (printers.size() == before)
        return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_NO_PRINTER), arguments[0]));
    return Publish(std::move(printers), parts);
}

}  // namespace velmora
