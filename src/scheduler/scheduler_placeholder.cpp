// Replaced by the scheduler.
