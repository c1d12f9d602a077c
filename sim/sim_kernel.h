/* For in-process tests only: the daemon never calls this. */
#ifndef COOLRUNG_SIM_KERNEL_H
#define COOLRUNG_SIM_KERNEL_H

/*
 * Forgets the chosen backing and every resolved name, so the next call
 * reads COOLRUNG_SIM_ROOT afresh.
 */
void sim_kernel_reset();

#endif
