// The print spooler of this machine, with the meaning of the Windows spooler API: a printer handle,
// one document at a time sent to it unchanged, and the names of the printers, the default printer and
// a printer's driver and port. Also the shell's "print" verb, which hands a file to the default printer
// in whatever way the system prints files of its type.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velmora::platform {

// An open printer; each implementation defines what it holds. One thread uses a handle at a time.
struct CPrinterConnection;
using PrinterHandle = CPrinterConnection*;

// False when the printer does not exist or the spooler cannot be reached.
bool OpenPrinter(const std::u16string& printerName, PrinterHandle* printer);
// Starts a document whose bytes reach the printer unchanged (the printer's own language).
bool StartDocPrinter(PrinterHandle printer, const std::u16string& documentName);
bool StartPagePrinter(PrinterHandle printer);
// *written receives the count of bytes accepted.
bool WritePrinter(PrinterHandle printer, const void* data, std::size_t size, std::size_t* written);
bool EndPagePrinter(PrinterHandle printer);
// Hands the document to the printer. A document without a byte counts as printed; nothing is sent and
// no job is left waiting for it.
bool EndDocPrinter(PrinterHandle printer);
// Also abandons a document that was started and not ended: it is not printed.
bool ClosePrinter(PrinterHandle printer);

// The names of the printers of this machine.
std::vector<std::u16string> EnumeratePrinters();
// The user's default printer; empty when there is none.
std::u16string DefaultPrinter();
// The printer's driver (its make and model) and port (the device it prints to); false when the printer
// does not exist.
bool PrinterDriverAndPort(const std::u16string& printerName, std::u16string* driver, std::u16string* port);

// Prints the file on the default printer as the system prints files of its type; returns once the file
// has been handed over, without waiting for the printout. False when it could not be handed over.
bool ShellPrint(const std::u16string& path);

}  // namespace velmora::platform
