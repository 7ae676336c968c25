/* The polygon clipper's records and calls, part of Zonelib's interface.
 *
 * A polygon is a set of contours, each a closed ring of vertices given
 * without a repeated closing vertex; a hole flag per contour tells outer
 * contours (0) from holes. The records are packed on 4-byte boundaries, so
 * each pointer follows the count before it directly. Every array in a record
 * comes from the runtime's plain allocator (malloc) and is released by
 * gpc_free_polygon, also for results of gpc_polygon_clip.
 */
#ifndef GPC_H
#define GPC_H

#include <stddef.h>
#include <stdint.h>

#include "zonelib.h"

#pragma pack(push, 4)

typedef struct gpc_vertex {
  double x;
  double y;
} gpc_vertex;

/* One contour. */
typedef struct gpc_vertex_list {
  int32_t vertex_count;
  gpc_vertex* vertex;
} gpc_vertex_list;

typedef struct gpc_polygon {
  int32_t contour_count;
  int32_t* hole;             /* contour_count flags; 0 for an outer contour */
  gpc_vertex_list* contour;  /* contour_count contours */
} gpc_polygon;

#pragma pack(pop)

/* Operations of gpc_polygon_clip. */
typedef enum gpc_op {
  GPC_DIFFERENCE = 0,   /* subject minus clip */
  GPC_INTERSECTION = 1,
  GPC_XOR = 2,
  GPC_UNION = 3
} gpc_op;

#ifdef __cplusplus
#define GPC_STATIC_ASSERT static_assert
#else
#define GPC_STATIC_ASSERT _Static_assert
#endif
GPC_STATIC_ASSERT(sizeof(gpc_vertex) == 16, "vertex size");
GPC_STATIC_ASSERT(offsetof(gpc_vertex_list, vertex) == 4, "vertex array follows the count");
GPC_STATIC_ASSERT(offsetof(gpc_polygon, hole) == 4, "hole flags follow the count");
GPC_STATIC_ASSERT(offsetof(gpc_polygon, contour) == 4 + sizeof(void*), "contours follow");
#undef GPC_STATIC_ASSERT

/* Sets the contour count to 0 and both arrays to none. */
ZONELIB_API void gpc_init_polygon(gpc_polygon* polygon);
/* Frees every contour's vertices, the hole flags and the contour array, and
 * leaves the record empty (count 0, no arrays); an empty record is accepted. */
ZONELIB_API void gpc_free_polygon(gpc_polygon* polygon);
/* Fills result with the newly allocated contours and hole flags of subject
 * (op) clip; the caller releases them with gpc_free_polygon. */
ZONELIB_API void gpc_polygon_clip(gpc_op op, gpc_polygon* subject, gpc_polygon* clip,
                                  gpc_polygon* result);

#endif /* GPC_H */
