#include "partitions/partition_scan.h"

namespace kestrix {

// The disk listing arrives with the partition lister; until then no partition is offered and the
// user gives one with "-d" or types it in.
void PartitionScan::ScanActivePartitions() {}

}  // namespace kestrix
