/*
 * DIR/faults, lines "OP NAME ERRNO" that make chosen calls fail, and the
 * errno names they and the trace use.
 */
#ifndef COOLRUNG_SIM_FAULTS_H
#define COOLRUNG_SIM_FAULTS_H

namespace sim {

/* The errno the first line of DIR/faults for this call gives, or 0. */
int fault_in_file(const char *op, const char *name);
/* The errno's symbolic name ("EPERM"), or null for one without. */
const char *errno_symbol(int error);

}  // namespace sim

#endif
