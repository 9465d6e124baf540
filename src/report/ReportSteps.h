#pragma once

// The steps of the routines the logger reports as, by name. Reports and the text log show a
// step as "Line N" after the routine's name, and other programs read those numbers: they stay.
namespace ReportStep {

// "InitXap": reading the settings and opening the database at start and on reload.
namespace InitXap {
constexpr int SettingsFile = 1;  // the logger's settings file, the engine
constexpr int Database = 3;      // the database's name
constexpr int Table = 4;         // the table's name
constexpr int SpoolLimit = 5;
constexpr int NetworkFile = 9;  // the settings shared by the host's xAP programs
constexpr int OpenDatabase = 10;
}  // namespace InitXap

// "CreateDatabase": making or checking what the database holds.
namespace CreateDatabase {
constexpr int Catalog = 3;
constexpr int Table = 4;
constexpr int Key = 5;
constexpr int IndexesAndMessages = 6;  // the indexes and the table of logged messages
constexpr int Layout = 7;              // the record of the tables' layout
}  // namespace CreateDatabase

// "Readmessage": an event on its way into the database.
namespace Readmessage {
constexpr int Store = 4;
}  // namespace Readmessage

// "SendHeartbeat", "SendGoodbye" and the other sends of the node.
namespace Send {
constexpr int Datagram = 4;
}  // namespace Send

// The outgoing queue: what waited, then the message at hand.
namespace Outgoing {
constexpr int Waiting = 1;
constexpr int Current = 2;
}  // namespace Outgoing

// "IniTool Save": writing a settings file.
namespace IniSave {
constexpr int Names = 1;    // section and key names that fit
constexpr int Backup = 2;   // the copy of the file as it was
constexpr int Write = 3;    // the new text, beside the file
constexpr int Replace = 4;  // renamed over the file
}  // namespace IniSave

// "WebPage": the web page's settings.
namespace WebPage {
constexpr int Port = 1;
constexpr int Bind = 2;
}  // namespace WebPage

}  // namespace ReportStep
