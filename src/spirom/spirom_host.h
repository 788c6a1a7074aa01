// What the SPI flash code needs from the application: a log line, a progress report and the
// operation-running flag that Cancel clears. The application installs its functions at start-up;
// without them lines go to the message sink, progress nowhere, operations always run and every
// question is answered no.
#pragma once

#include <string>

struct SpiRomHost {
    void (*log)(const std::string& line) = nullptr;
    // A line of the step-by-step account (each page written, each sector erased, each stretch
    // read), which a front end may leave out of a short view; without it such lines go to log.
    void (*detail)(const std::string& line) = nullptr;
    void (*progress)(int current, int total, const std::string& text) = nullptr;
    bool (*running)() = nullptr;
    // A yes/no question (overwrite a file ...): true only for an explicit yes. The host logs the
    // question when it asks it; one answered before the operation started is not logged again.
    bool (*confirm)(const std::string& question) = nullptr;
};

void spirom_set_host(const SpiRomHost& host);

// One log line, printf-style.
void spirom_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line of the step-by-step account, printf-style.
void spirom_detail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void spirom_progress(int current, int total, const std::string& text);
bool spirom_running();
// The host's answer to a yes/no question; no (with the question logged) when the host asks
// nobody.
bool spirom_confirm(const std::string& question);
