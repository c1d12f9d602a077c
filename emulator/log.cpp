#include "log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t NS_PER_SECOND = 1000000000;
/* Above every errno Linux has. */
constexpr int ERRNO_LIMIT = 200;

int log_fd = -1;

std::string
escaped(const std::string &text)
{
	std::string out;
	for (char c : text) {
		auto byte = static_cast<unsigned char>(c);
		if (c == '\\')
			out += "\\\\";
		else if (c == '\n')
			out += "\\n";
		else if (c == '\t')
			out += "\\t";
		else if (byte < 0x20 || byte >= 0x7f) {
			char hex[8];
			snprintf(hex, sizeof(hex), "\\x%02x", byte);
			out += hex;
		} else
			out += c;
	}
	return out;
}

}

bool
open_log(const char *state_directory)
{
	std::string path = std::string(state_directory) + "/log";
	log_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
	    0644);
	return log_fd != -1;
}

void
log_record(int64_t now, const std::string &source, int error,
    const std::string &text)
{
	std::string line = seconds_text(now) + " " + source + " " + errno_name(error) + " " +
	    escaped(text) + "\n";
	/* A full disk loses the line; the emulator goes on. */
	if (write(log_fd, line.data(), line.size()) == -1)
		return;
}

std::string
seconds_text(int64_t ns)
{
	char text[48];
	snprintf(text, sizeof(text), "%lld.%09lld",
	    static_cast<long long>(ns / NS_PER_SECOND),
	    static_cast<long long>(ns % NS_PER_SECOND));
	return text;
}

std::string
errno_name(int error)
{
	if (error == 0)
		return "ok";
	const char *name = strerrorname_np(error);
	return name != nullptr ? name : std::to_string(error);
}

int
errno_number(const std::string &name)
{
	if (!name.empty() && name.find_first_not_of("0123456789") ==
	    std::string::npos)
		return name.size() < 4 ? std::stoi(name) : 0;
	for (int error = 1; error < ERRNO_LIMIT; error++) {
		const char *known = strerrorname_np(error);
		if (known != nullptr && name == known)
			return error;
	}
	return 0;
}
