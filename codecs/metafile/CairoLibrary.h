#pragma once
// cairo and fontconfig, opened the first time a metafile is drawn rather than linked: the two and the
// dozen libraries they pull in would otherwise be loaded on every start of a program that seldom
// meets a metafile. The metafile code calls them as Cairo().cairo_fill(cr), with cairo's own names.
#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <string>

// Every function the metafile code calls. A function added to the code must be added here.
// clang-format off
#define FOLIANTO_CAIRO_FUNCTIONS(X) \
    X(cairo_clip) X(cairo_close_path) X(cairo_create) X(cairo_curve_to) X(cairo_destroy) X(cairo_fill) \
    X(cairo_font_face_destroy) X(cairo_font_face_status) X(cairo_font_options_create) \
    X(cairo_font_options_destroy) X(cairo_font_options_set_antialias) \
    X(cairo_font_options_set_hint_metrics) X(cairo_font_options_set_hint_style) \
    X(cairo_ft_font_face_create_for_pattern) X(cairo_get_scaled_font) X(cairo_get_source) \
    X(cairo_get_target) X(cairo_glyph_free) X(cairo_glyph_path) X(cairo_identity_matrix) \
    X(cairo_image_surface_create) X(cairo_image_surface_create_for_data) X(cairo_image_surface_get_data) \
    X(cairo_image_surface_get_stride) X(cairo_line_to) X(cairo_matrix_init_identity) \
    X(cairo_matrix_init_scale) X(cairo_matrix_invert) X(cairo_matrix_multiply) \
    X(cairo_mesh_pattern_begin_patch) X(cairo_mesh_pattern_end_patch) X(cairo_mesh_pattern_line_to) \
    X(cairo_mesh_pattern_move_to) X(cairo_mesh_pattern_set_corner_color_rgb) X(cairo_move_to) \
    X(cairo_new_path) X(cairo_paint) X(cairo_paint_with_alpha) X(cairo_pattern_add_color_stop_rgb) \
    X(cairo_pattern_create_for_surface) X(cairo_pattern_create_linear) X(cairo_pattern_create_mesh) \
    X(cairo_pattern_destroy) X(cairo_pattern_reference) X(cairo_pattern_set_extend) \
    X(cairo_pattern_set_filter) X(cairo_pattern_set_matrix) X(cairo_rectangle) X(cairo_reset_clip) \
    X(cairo_restore) X(cairo_save) X(cairo_scaled_font_create) X(cairo_scaled_font_destroy) \
    X(cairo_scaled_font_extents) X(cairo_scaled_font_status) X(cairo_scaled_font_text_extents) \
    X(cairo_scaled_font_text_to_glyphs) X(cairo_set_antialias) X(cairo_set_dash) X(cairo_set_fill_rule) \
    X(cairo_set_font_face) X(cairo_set_font_matrix) X(cairo_set_font_options) X(cairo_set_line_cap) \
    X(cairo_set_line_join) X(cairo_set_line_width) X(cairo_set_matrix) X(cairo_set_miter_limit) \
    X(cairo_set_operator) X(cairo_set_source) X(cairo_set_source_rgb) X(cairo_set_source_surface) \
    X(cairo_show_glyphs) X(cairo_status) X(cairo_stroke) X(cairo_surface_destroy) X(cairo_surface_flush) \
    X(cairo_surface_get_type) X(cairo_surface_mark_dirty) X(cairo_surface_status) \
    X(cairo_text_cluster_free) X(cairo_toy_font_face_create) X(cairo_translate)

#define FOLIANTO_FONTCONFIG_FUNCTIONS(X) \
    X(FcConfigSubstitute) X(FcDefaultSubstitute) X(FcFontMatch) X(FcInit) X(FcPatternAddInteger) \
    X(FcPatternAddString) X(FcPatternCreate) X(FcPatternDestroy) X(FcWeightFromOpenType)
// clang-format on

struct TCairoLibrary {
#define FOLIANTO_CAIRO_MEMBER(name) decltype(&::name) name = nullptr;
    FOLIANTO_CAIRO_FUNCTIONS(FOLIANTO_CAIRO_MEMBER)
    FOLIANTO_FONTCONFIG_FUNCTIONS(FOLIANTO_CAIRO_MEMBER)
#undef FOLIANTO_CAIRO_MEMBER
};

// The files the system's libraries are found under.
inline constexpr const char* kCairoFileName = "libcairo.so.2";
inline constexpr const char* kFontconfigFileName = "libfontconfig.so.1";

// Opens the two files and looks up every function; false, with the reason in words for the user, when
// a file cannot be loaded or lacks one of them.
bool LoadCairoLibrary(const char* cairoFile, const char* fontconfigFile, TCairoLibrary& library,
                      std::string& reason);

// The system's cairo and fontconfig, loaded on the first call (once, whichever thread comes first)
// and kept until the process ends. Raises EPlatformException with the reason when they cannot be
// used, so that the metafile's load fails with it; every later call gives the same answer.
const TCairoLibrary& Cairo();
