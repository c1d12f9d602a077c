#include "loop.h"

#include <cerrno>
#include <cstdlib>

#include "detach.h"
#include "fan.h"
#include "platform.h"
#include "fatal.h"
#include "report.h"
#include "signals.h"
#include "step.h"

static int32_t
level_of(const level_table *table, int32_t row)
{
	return table->entries[row].level_number;
}

/*
 * The sensor is lost: the firmware runs the fan better than a level held
 * blind.  If even that fails, the fan runs at full table speed until the
 * process ends.
 */
static void
lose_sensor(const level_table *table, int read_error)
{
	if (!hand_back_fan()) {
		int error = errno;
		(void)write_fan_level(level_of(table, table->count - 1));
		fail_with(EX_NOPERM, error, "%s", fan_mode_name());
	}
	report(LOG_WARNING, read_error,
	    "%s: %d failed reads, fan handed back to the firmware",
	    temperature_name(), GIVE_UP_AFTER);
}

/*
 * Carries the plan out.  A level that cannot be written on taking the fan
 * again gives it back at once.
 */
static poll_outcome
carry_out(const level_table *table, const control_state &state,
    const poll_plan &plan, int32_t celsius, int read_error)
{
	int32_t level = level_of(table, plan.next.row);

	switch (plan.action) {
	case fan_action::keep:
		break;
	case fan_action::write_level:
		if (!write_fan_level(level))
			return poll_outcome::write_failed;
		log_only(LOG_INFO, "level %d -> %d at %d C",
		    level_of(table, state.row), level, celsius);
		break;
	case fan_action::hand_back:
		lose_sensor(table, read_error);
		break;
	case fan_action::take_again:
		if (!engage_manual_mode())
			return poll_outcome::left_to_firmware;
		if (!write_fan_level(level)) {
			int error = errno;
			hand_back_or_fail();
			errno = error;
			return poll_outcome::write_failed;
		}
		report(LOG_WARNING, 0, "fan taken again at level %d (%d C)",
		    level, celsius);
		break;
	}
	return poll_outcome::done;
}

/* Reads, carries out what the rules say, and returns the seconds to sleep. */
static unsigned int
poll_fan(control_state *state, const level_table *table)
{
	int32_t celsius = 0;
	bool read = read_temperature(&celsius);
	int read_error = read ? 0 : errno;
	bool ours = true;
	bool kept = !state->taken || keep_fan(&ours);
	int kept_error = errno;
	poll_plan plan = plan_poll(*state, table, read ? &celsius : nullptr,
	    ours);
	poll_outcome outcome = poll_outcome::write_failed;

	/* A hold on the fan that could not be kept counts as a failed write. */
	if (kept || plan.action == fan_action::hand_back)
		outcome = carry_out(table, *state, plan, celsius, read_error);
	else
		errno = kept_error;
	if (!record_poll(state, plan, outcome))
		hand_back_and_fail(EX_UNAVAILABLE, errno, fan_level_name());
	return plan.seconds;
}

[[noreturn]] static void
end_by_signal(int signo)
{
	char room[SIGNAL_NAME_SIZE];

	hand_back_or_fail();
	log_only(LOG_NOTICE, "%s: fan handed back to the firmware, exiting",
	    signal_name(signo, room, sizeof(room)));
	exit(EXIT_BY_SIGNAL);
}

/*
 * Job control: the fan goes back before the process stops, so a stopped
 * daemon never holds it; the first reading after SIGCONT takes it again.
 */
static void
stop_for_job_control(control_state *state, int signo)
{
	char room[SIGNAL_NAME_SIZE];
	poll_plan plan = plan_hand_back(*state);

	if (state->taken)
		hand_back_or_fail();
	(void)record_poll(state, plan, poll_outcome::done);
	report(LOG_WARNING, 0, "%s: fan handed back to the firmware, stopping",
	    signal_name(signo, room, sizeof(room)));
	stop_process();
	/* Continued: an ending signal sent meanwhile comes before the fan. */
	let_held_signals_in();
}

void
run_control_loop(const level_table *table, bool detach_asked)
{
	install_signal_handlers();
	take_fan(table);
	if (detach_asked && detach()) {
		platform_openlog(program_name());
		send_messages_to_log(platform_syslog);
		log_only(LOG_NOTICE, "started, fan at level %d",
		    level_of(table, 0));
		tell_starter();
	}

	control_state state = control_start();
	for (;;) {
		int signo = ending_signal();
		if (signo != 0)
			end_by_signal(signo);
		signo = take_job_stop();
		if (signo != 0) {
			stop_for_job_control(&state, signo);
			continue;
		}
		sleep_between_polls(poll_fan(&state, table));
	}
}
