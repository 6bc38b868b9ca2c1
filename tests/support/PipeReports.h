// In a host process: the kinds of error report the pipe framework made, so that a host's
// output says why a request went wrong.
#ifndef KYRO_TESTS_PIPEREPORTS_H
#define KYRO_TESTS_PIPEREPORTS_H

// Starts collecting the reports made from now on, by any thread.
void watchPipeReports();

// Stops collecting and prints each kind of report once, in name order, as
// "report: <kind>" - the report's text before its first colon, without "Error  ", so that
// the kind does not change with the pipe or packet it names.
void printPipeReports();

#endif
