// The plain-text log "TessarvaneUpdater.log": UTF-16LE without a byte-order mark, one
// time-stamped line per call. Used by the main thread during start-up and by the worker
// during a run, never by both at once, so it takes no lock.
#pragma once

#include <windows.h>

#include <cstdarg>

// Creates or empties the log in appState.logFolder (which ends with a backslash) through the
// checked open of LogFolderFile.h and stores its handle in appState.logFile. A log that the
// check refuses (a link under its name or anywhere on its path) is neither followed nor
// emptied, and logging stays off for the run, as it does, silently, for any other failure.
void OpenLogFile();

// Appends "hh:mm:ss.mmm", two blanks, text and CR LF. Does nothing while logging is off.
// The text is written as given: it is not a format.
void LogMessage(const wchar_t* text);

// As LogMessage, but assembled on the stack and cut at 480 characters: for the last line of a
// process whose memory is exhausted.
void LogMessageWithoutAllocation(const wchar_t* text);

// Logs one line made from a format written in the program (never from outside text) and its
// values, cut at 511 characters.
void LogFormattedMessage(const wchar_t* format, ...);
// The same with the values taken by the caller; line receives the line as logged.
void LogFormattedMessageV(wchar_t (&line)[512], const wchar_t* format, va_list values);

// The 12-character time stamp of a log line for the given local time.
void FormatLogTimeStamp(const SYSTEMTIME& time, wchar_t (&stamp)[20]);
